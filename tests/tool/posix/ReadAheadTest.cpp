// The files of a folder that the copy opens ahead: which ones, how many, and that each
// descriptor handed out reads the file it was asked for.
#include "posix/FileContent.h"

#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using qtool::Entry;
using qtool::EntryKind;

// One entry of the folder: a file of `size` bytes (its content begins with its name), a
// folder or a link; one not `listed` is left out of the folder's listing.
struct Made {
    std::string name;
    std::uint64_t size = 4096;
    EntryKind kind = EntryKind::kFile;
    bool listed = true;
};
const Made kSub{"sub", 0, EntryKind::kFolder};

struct Case {
    const char* what;
    std::vector<Made> entries;
    std::vector<std::string> opens;        // in this order
    std::set<std::string> aheadAfterLast;  // open ahead after the last of `opens`
};

std::string Many(int i) { return "m" + std::to_string(100 + i); }

std::vector<Made> ManyFiles(int count, std::uint64_t size) {
    std::vector<Made> made;
    for (int i = 0; i < count; ++i)
        made.push_back({Many(i), size});
    return made;
}

std::set<std::string> ManyNames(int from, int to) {
    std::set<std::string> names;
    for (int i = from; i < to; ++i)
        names.insert(Many(i));
    return names;
}

class ReadAheadTest : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        char templ[] = "/tmp/quorlin-read-ahead.XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        root_ = templ;
        folder_ = open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(folder_, 0);
    }
    void TearDown() override {
        close(folder_);
        ASSERT_EQ(std::system(("rm -rf " + root_).c_str()), 0);
    }

    std::vector<Entry> Make(const std::vector<Made>& made) {
        std::vector<Entry> entries;
        for (const Made& item : made) {
            Entry entry;
            entry.name = item.name;
            entry.kind = item.kind;
            std::string path = root_ + "/" + item.name;
            if (item.kind == EntryKind::kFolder) {
                EXPECT_EQ(mkdir(path.c_str(), 0700), 0);
            } else if (item.kind == EntryKind::kLink) {
                EXPECT_EQ(symlink("a", path.c_str()), 0);
            } else {
                int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
                EXPECT_GE(fd, 0);
                EXPECT_EQ(write(fd, item.name.data(), item.name.size()),
                          static_cast<ssize_t>(item.name.size()));
                EXPECT_EQ(ftruncate(fd, static_cast<off_t>(item.size)), 0);
                close(fd);
                entry.size = item.size;
            }
            if (item.listed)
                entries.push_back(entry);
        }
        return entries;
    }

    // The names in the folder that this process holds open.
    std::set<std::string> HeldOpen() const {
        std::set<std::string> names;
        DIR* fds = opendir("/proc/self/fd");
        while (const dirent* item = readdir(fds)) {
            char target[PATH_MAX];
            std::string link = std::string("/proc/self/fd/") + item->d_name;
            ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
            if (length <= 0)
                continue;
            std::string path(target, static_cast<size_t>(length));
            if (path.size() > root_.size() + 1 &&
                path.compare(0, root_.size() + 1, root_ + "/") == 0)
                names.insert(path.substr(root_.size() + 1));
        }
        closedir(fds);
        return names;
    }

    std::string root_;
    int folder_ = -1;
};

TEST_P(ReadAheadTest, OpensTheFileAskedForAndTheNextOnesUpToTheWindow) {
    const Case& test = GetParam();
    std::vector<Entry> entries = Make(test.entries);
    {
        qtool::ReadAhead ahead;
        ahead.Plan(entries);
        for (const std::string& name : test.opens) {
            qtool::Fd fd = ahead.Open(folder_, name);
            ASSERT_TRUE(fd.Valid()) << name;
            std::string start(name.size(), '\0');
            ASSERT_EQ(pread(fd.Get(), &start[0], start.size(), 0),
                      static_cast<ssize_t>(start.size()));
            EXPECT_EQ(start, name);
        }
        EXPECT_EQ(HeldOpen(), test.aheadAfterLast);
    }
    EXPECT_TRUE(HeldOpen().empty()) << "descriptors left open";
}

INSTANTIATE_TEST_SUITE_P(
    Window, ReadAheadTest,
    ::testing::Values(
        Case{"to the next folder", {{"a"}, {"b"}, {"c"}, kSub, {"d"}}, {"a"}, {"b", "c"}},
        Case{"on past a folder once the walk is there",
             {{"a"}, kSub, {"d"}, {"e"}},
             {"a", "d"},
             {"e"}},
        Case{"past names not copied", {{"a"}, {"b"}, {"c"}, {"d"}}, {"a", "c"}, {"d"}},
        Case{"from a name not yet opened ahead",
             {{"a"}, {"b"}, {"c"}, kSub, {"d"}, {"e"}},
             {"d"},
             {"e"}},
        Case{"not at empty files or links",
             {{"a"}, {"empty", 0}, {"link", 0, EntryKind::kLink}, {"b"}},
             {"a"},
             {"b"}},
        Case{"a file the folder was not listed with",
             {{"a"}, {"b"}, {"unlisted", 4096, EntryKind::kFile, false}},
             {"unlisted"},
             {"a", "b"}},
        Case{"at most 32 files", ManyFiles(40, 4096), {Many(0)}, ManyNames(1, 33)},
        Case{"at about 8 MB", ManyFiles(6, 3 << 20), {Many(0)}, ManyNames(1, 4)}),
    [](const ::testing::TestParamInfo<Case>& info) {
        std::string name;
        for (const char* c = info.param.what; *c != '\0'; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

}  // namespace
