#include "posix/BtrfsFixture.h"

#include "platform/posix/btrfs/SnapshotStore.h"
#include "platform/posix/Utf8.h"
#include "posix/ScratchVolume.h"

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quorlin {
namespace testing {

namespace {

struct Volumes {
    std::string unavailable;  // why the tests are skipped; empty when they run
    ScratchArea area;
    std::string first, second, tmpfs;
};

Volumes& TheVolumes() {
    static Volumes volumes;
    return volumes;
}

class BtrfsEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        Volumes& volumes = TheVolumes();
        volumes.unavailable = BtrfsUnavailableReason();
        std::string error;
        if (volumes.unavailable.empty() &&
            !(volumes.area.Create(error) &&
              volumes.area.MountBtrfs("first", 256, volumes.first, error) &&
              volumes.area.MountBtrfs("second", 256, volumes.second, error) &&
              volumes.area.MountTmpfs("tmpfs", volumes.tmpfs, error)))
            volumes.unavailable = error;
        if (!volumes.unavailable.empty())
            std::fprintf(stderr, "btrfs tests skipped: %s\n", volumes.unavailable.c_str());
    }
    void TearDown() override { TheVolumes().area.Remove(); }
};

::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new BtrfsEnvironment);

}  // namespace

void BtrfsTest::SetUp() {
    if (!TheVolumes().unavailable.empty())
        GTEST_SKIP() << TheVolumes().unavailable;
}

void BtrfsTest::TearDown() {
    if (!TheVolumes().unavailable.empty())
        return;
    for (auto it = cleanup_.rbegin(); it != cleanup_.rend(); ++it) {
        RunQuietly("umount -l '" + *it + "'");
        RemoveTree(*it);
    }
    for (const std::string& mount : {FirstBtrfs(), SecondBtrfs()}) {
        EXPECT_TRUE(StoreEntries(mount).empty()) << "snapshots left behind on " << mount;
        RemoveTree(StorePath(mount));  // so that the next test starts clean
    }
}

const std::string& BtrfsTest::FirstBtrfs() { return TheVolumes().first; }
const std::string& BtrfsTest::SecondBtrfs() { return TheVolumes().second; }
const std::string& BtrfsTest::Tmpfs() { return TheVolumes().tmpfs; }
const std::string& BtrfsTest::ScratchPath() { return TheVolumes().area.Path(); }

std::string BtrfsTest::NewSubvolume(const std::string& name, const std::string& parent) {
    const std::string path = (parent.empty() ? FirstBtrfs() : parent) + "/" + name;
    EXPECT_TRUE(MakeSubvolume(path)) << path;
    cleanup_.push_back(path);
    return path;
}

ComPtr<BackupComponents> BtrfsTest::StartSet(LONG context, VSS_ID& setId) {
    ComPtr<BackupComponents> components;
    EXPECT_EQ(S_OK, CreatePlatformBackupComponents(components));
    if (!components)
        return components;
    EXPECT_EQ(S_OK, components->InitializeForBackup(nullptr));
    EXPECT_EQ(S_OK, components->SetContext(context));
    EXPECT_EQ(S_OK, components->StartSnapshotSet(&setId));
    return components;
}

std::vector<VSS_ID> BtrfsTest::TakeSet(const ComPtr<BackupComponents>& components,
                                       const std::vector<std::string>& volumes) {
    std::vector<VSS_ID> ids;
    for (const std::string& volume : volumes) {
        VSS_ID id = GUID_NULL;
        EXPECT_EQ(S_OK,
                  components->AddToSnapshotSet(FromUtf8(volume + "/").c_str(), GUID_NULL, &id))
            << volume;
        ids.push_back(id);
    }
    ComPtr<AsyncOperation> async;
    EXPECT_EQ(S_OK, components->DoSnapshotSet(async));
    if (!async)
        return ids;
    HRESULT status = S_OK;
    EXPECT_EQ(S_OK, async->Wait(INFINITE));
    EXPECT_EQ(S_OK, async->QueryStatus(&status, nullptr));
    EXPECT_EQ(VSS_S_ASYNC_FINISHED, status);
    return ids;
}

std::string BtrfsTest::DevicePath(const ComPtr<BackupComponents>& components,
                                  const VSS_ID& snapshotId) {
    SnapshotProperties properties;
    EXPECT_EQ(S_OK, components->GetSnapshotProperties(snapshotId, &properties));
    return ToUtf8(properties.snapshotDeviceObject);
}

bool BtrfsTest::StoreExists(const std::string& mountPoint) { return Exists(StorePath(mountPoint)); }

std::vector<std::string> BtrfsTest::StoreEntries(const std::string& mountPoint) {
    std::vector<std::string> names;
    UniqueFd store(::open(StorePath(mountPoint).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (store.Valid())
        ListDirectory(store.Get(), names);
    return names;
}

bool BtrfsTest::NothingStored() {
    return StoreEntries(FirstBtrfs()).empty() && StoreEntries(SecondBtrfs()).empty();
}

std::string RunInChild(const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe(fds) != 0)
        return "";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        const std::string result = body();
        const bool written =
            ::write(fds[1], result.data(), result.size()) == static_cast<ssize_t>(result.size());
        ::_exit(written ? 0 : 2);
    }
    ::close(fds[1]);
    const std::string result = Drain(fds[0]);
    ::close(fds[0]);
    ::waitpid(child, nullptr, 0);
    return result;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

void WriteFile(const std::string& path, const std::string& content, bool append) {
    std::ofstream file(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
    file << content;
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string Drain(int fd) {
    std::string bytes;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, static_cast<size_t>(n));
    return bytes;
}

bool WaitForProcessState(long pid, char state) {
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    for (int attempt = 0; attempt < 500; ++attempt) {
        std::ifstream file(path);
        std::string line;
        std::getline(file, line);
        const size_t close = line.rfind(')');
        if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == state)
            return true;
        ::usleep(10000);
    }
    return false;
}

}  // namespace testing
}  // namespace quorlin
