#include "ToolOnBtrfs.h"

#include <fstream>
#include <grp.h>
#include <iterator>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tooltest {

bool Exists(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

std::vector<std::string> SnapshotPaths(const std::string& out) {
    std::vector<std::string> paths;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos)
            end = out.size();
        std::string line = out.substr(start, end - start);
        size_t tab = line.find('\t');
        if (tab != std::string::npos)
            paths.push_back(line.substr(tab + 1));
        start = end + 1;
    }
    return paths;
}

uid_t NobodyUid() {
    const passwd* nobody = getpwnam("nobody");
    return nobody != nullptr ? nobody->pw_uid : 65534;
}

gid_t NobodyGid() {
    const passwd* nobody = getpwnam("nobody");
    return nobody != nullptr ? nobody->pw_gid : 65534;
}

std::vector<std::string> Places(const std::string& out) {
    std::vector<std::string> places;
    for (size_t start = 0; start < out.size();) {
        size_t end = out.find('\n', start);
        std::string line = out.substr(start, end == std::string::npos ? end : end - start);
        if (line.find('\t') != std::string::npos)
            places.push_back(line.substr(0, line.find('\t')));
        start = end == std::string::npos ? out.size() : end + 1;
    }
    return places;
}

bool BecomeNobody() {
    return setgroups(0, nullptr) == 0 && setresgid(NobodyGid(), NobodyGid(), NobodyGid()) == 0 &&
           setresuid(NobodyUid(), NobodyUid(), NobodyUid()) == 0;
}

bool AsNobody(const std::function<bool()>& action) {
    pid_t child = fork();
    if (child == 0)
        _exit(BecomeNobody() && action() ? 0 : 1);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

BtrfsScratch* ToolOnBtrfs::scratch_ = nullptr;
int ToolOnBtrfs::baseline_ = 0;

void ToolOnBtrfs::SetUpTestSuite() {
    scratch_ = new BtrfsScratch();
    baseline_ = scratch_->SubvolumeCount();
}

void ToolOnBtrfs::TearDownTestSuite() {
    delete scratch_;
    scratch_ = nullptr;
}

void ToolOnBtrfs::TearDown() {
    if (scratch_ != nullptr) {
        EXPECT_EQ(scratch_->SubvolumeCount(), baseline_);
    }
}

}  // namespace tooltest
