// Snapshots and the processes that own them: persistent ones outlive their maker and
// are deleted from another process; auto-release ones stay while their owner lives,
// wherever it runs, and are swept once it is gone, wherever root moved them.
#include "platform/posix/btrfs/Guid.h"
#include "platform/posix/Utf8.h"
#include "posix/BtrfsFixture.h"
#include "posix/ScratchVolume.h"
#include "platform/posix/btrfs/SnapshotStore.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sched.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace quorlin {
namespace testing {
namespace {

// Takes a snapshot of `volume` in `context` with a new components object of the platform
// (kept in `components`): "<device path>\n<set identity>", or "failed".
std::string TakeSnapshot(const std::string& volume, LONG context,
                         ComPtr<BackupComponents>& components) {
    VSS_ID setId = GUID_NULL, id;
    ComPtr<AsyncOperation> async;
    SnapshotProperties properties;
    HRESULT status = E_FAIL;
    if (CreatePlatformBackupComponents(components) == S_OK &&
        components->InitializeForBackup(nullptr) == S_OK &&
        components->SetContext(context) == S_OK && components->StartSnapshotSet(&setId) == S_OK &&
        components->AddToSnapshotSet(FromUtf8(volume + "/").c_str(), GUID_NULL, &id) == S_OK &&
        components->DoSnapshotSet(async) == S_OK && async->QueryStatus(&status, nullptr) == S_OK &&
        status == VSS_S_ASYNC_FINISHED &&
        components->GetSnapshotProperties(id, &properties) == S_OK)
        return ToUtf8(properties.snapshotDeviceObject) + "\n" + GuidText(setId);
    return "failed";
}

// Where the process that owns a snapshot runs, as seen from the sweeper.
enum class OwnerRuns {
    kBeside,
    kInItsOwnPidNamespace,
    kInItsOwnTimeNamespace,
    kAfterItsMainThread
};

// A process that took an auto-release snapshot and sleeps until it is killed.
struct LiveOwner {
    pid_t child = -1;  // this process's child, reaped by Kill
    long pid = -1;     // the owner, as /proc here numbers it
    std::string device;

    void Kill() {
        ::kill(static_cast<pid_t>(pid), SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
};

// Starts an owner of a snapshot of `volume` that runs as `where` says.
LiveOwner StartLiveOwner(const std::string& volume, OwnerRuns where) {
    int fds[2];
    EXPECT_EQ(0, ::pipe2(fds, O_CLOEXEC));
    LiveOwner owner;
    owner.child = ::fork();
    if (owner.child == 0) {
        ::close(fds[0]);
        const auto own = [&] {
            ComPtr<BackupComponents> components;
            char self[32] = {};
            (void)!::readlink("/proc/self", self, sizeof self - 1);  // the pid /proc knows
            const std::string message =
                std::string(self) + "\n" + TakeSnapshot(volume, VSS_CTX_BACKUP, components) + "\n";
            (void)!::write(fds[1], message.data(), message.size());
            for (;;)
                ::pause();
        };
        if (where == OwnerRuns::kAfterItsMainThread) {
            std::thread(own).detach();
            ::syscall(SYS_exit, 0);  // this thread alone
        }
        if (where == OwnerRuns::kInItsOwnPidNamespace ||
            where == OwnerRuns::kInItsOwnTimeNamespace) {
            const bool pid = where == OwnerRuns::kInItsOwnPidNamespace;
            if (::unshare(pid ? CLONE_NEWPID : CLONE_NEWTIME) != 0)
                ::_exit(3);
            if (!pid) {  // a day later than here, on both clocks the namespace moves
                std::ofstream("/proc/self/timens_offsets")
                    << "monotonic 86400 0\nboottime 86400 0\n";
            }
            const pid_t inner = ::fork();
            if (inner != 0) {
                ::waitpid(inner, nullptr, 0);
                ::_exit(0);
            }
        }
        own();
    }
    ::close(fds[1]);
    std::string message;
    char buffer[512];
    ssize_t n;
    while (std::count(message.begin(), message.end(), '\n') < 3 &&
           (n = ::read(fds[0], buffer, sizeof buffer)) > 0)
        message.append(buffer, static_cast<size_t>(n));
    ::close(fds[0]);
    const size_t first = message.find('\n');
    const size_t second = message.find('\n', first + 1);
    EXPECT_NE(std::string::npos, second) << message;
    if (second != std::string::npos) {
        owner.pid = std::strtol(message.c_str(), nullptr, 10);
        owner.device = message.substr(first + 1, second - first - 1);
    }
    return owner;
}

class BtrfsProcessTest : public BtrfsTest {
protected:
    // Runs in a child process: takes a snapshot of `volume` in `context`, sends back the
    // device path and the set identity, then releases the components object or, when
    // `crash`, exits without releasing anything. The child's result: device, set id.
    std::pair<std::string, std::string> SnapshotInChild(const std::string& volume, LONG context,
                                                        bool crash) {
        const std::string message = RunInChild([&] {
            ComPtr<BackupComponents> components;
            const std::string result = TakeSnapshot(volume, context, components);
            if (crash && components)
                components->AddRef();  // held until the process ends, as by a crashed host
            return result;
        });
        const size_t newline = message.find('\n');
        EXPECT_NE(std::string::npos, newline) << message;
        if (newline == std::string::npos)
            return {};
        return {message.substr(0, newline), message.substr(newline + 1)};
    }

    // Adds `volume` to a new set of this process (which sweeps), then gives the set up.
    void AddInThisProcess(const std::string& volume) {
        VSS_ID setId, id;
        ComPtr<BackupComponents> components = StartSet(VSS_CTX_BACKUP, setId);
        EXPECT_EQ(S_OK,
                  components->AddToSnapshotSet(FromUtf8(volume + "/").c_str(), GUID_NULL, &id));
    }

    static HRESULT DeleteSet(const std::string& setText, LONG& deleted) {
        VSS_ID setId;
        EXPECT_TRUE(ParseGuid(setText, setId)) << setText;
        ComPtr<BackupComponents> components;
        EXPECT_EQ(S_OK, CreatePlatformBackupComponents(components));
        EXPECT_EQ(S_OK, components->InitializeForBackup(nullptr));
        VSS_ID notDeleted;
        return components->DeleteSnapshots(setId, VSS_OBJECT_SNAPSHOT_SET, true, &deleted,
                                           &notDeleted);
    }
};

TEST_F(BtrfsProcessTest, PersistentSnapshotOutlivesItsProcessUntilDeletedFromAnother) {
    const std::string volume = NewSubvolume("persistent");
    WriteFile(volume + "/kept", "kept");
    const auto [device, set] = SnapshotInChild(volume, VSS_CTX_NAS_ROLLBACK, false);
    ASSERT_FALSE(device.empty());
    EXPECT_EQ("kept", ReadFile(device + "/kept"));

    AddInThisProcess(volume);  // a sweep never takes a persistent snapshot
    EXPECT_TRUE(Exists(device));

    LONG deleted = 0;
    EXPECT_EQ(S_OK, DeleteSet(set, deleted));
    EXPECT_EQ(1, deleted);
    EXPECT_FALSE(Exists(device));
    EXPECT_EQ(VSS_E_OBJECT_NOT_FOUND, DeleteSet(set, deleted));
    EXPECT_EQ(0, deleted);
}

TEST_F(BtrfsProcessTest, AutoReleaseSnapshotsOfADeadProcessAreSweptByTheNextAdd) {
    const std::string volume = NewSubvolume("crashed");
    const std::string other = NewSubvolume("untouched", SecondBtrfs());
    const auto [device, set] = SnapshotInChild(volume, VSS_CTX_BACKUP, true);
    const auto [otherDevice, otherSet] = SnapshotInChild(other, VSS_CTX_BACKUP, true);
    ASSERT_FALSE(device.empty());
    ASSERT_FALSE(otherDevice.empty());
    EXPECT_TRUE(Exists(device)) << "the crashed child released nothing";

    // A live owner's snapshot stays.
    VSS_ID liveSet;
    ComPtr<BackupComponents> live = StartSet(VSS_CTX_BACKUP, liveSet);
    const std::string liveDevice = DevicePath(live, TakeSet(live, {volume})[0]);

    AddInThisProcess(volume);
    EXPECT_FALSE(Exists(device));
    EXPECT_TRUE(Exists(liveDevice));
    EXPECT_TRUE(Exists(otherDevice)) << "only the added volume's file system is swept";
    AddInThisProcess(other);
    EXPECT_FALSE(Exists(otherDevice));
}

TEST_F(BtrfsProcessTest, AutoReleaseSnapshotSurvivesOtherSweepsWhileItsOwnerLives) {
    const std::string volume = NewSubvolume("owned");
    const struct {
        const char* name;
        OwnerRuns where;
        char state;  // of the owner's process while it waits
    } cases[] = {
        {"asleep in pause()", OwnerRuns::kBeside, 'S'},
        {"in its own pid namespace", OwnerRuns::kInItsOwnPidNamespace, 'S'},
        {"in its own time namespace", OwnerRuns::kInItsOwnTimeNamespace, 'S'},
        {"after its main thread ended", OwnerRuns::kAfterItsMainThread, 'Z'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LiveOwner owner = StartLiveOwner(volume, c.where);
        ASSERT_TRUE(Exists(owner.device)) << owner.device;
        EXPECT_TRUE(WaitForProcessState(owner.pid, c.state));
        AddInThisProcess(volume);  // another requester's sweep
        EXPECT_TRUE(Exists(owner.device)) << "swept while its owner lives";
        owner.Kill();
        AddInThisProcess(volume);
        EXPECT_FALSE(Exists(owner.device)) << "left behind by an owner that is gone";
    }
}

TEST_F(BtrfsProcessTest, SweepFindsALeftoverWhereverRootMovedIt) {
    const std::string volume = NewSubvolume("moved");
    const std::string other = NewSubvolume("other");
    const std::string store = FirstBtrfs() + "/.quorlin";
    // Each row moves the store that holds a dead owner's snapshot and its record (a
    // read-only snapshot cannot leave its folder) and opens it to others or not.
    const struct {
        const char* name;
        std::string moved;  // where the store goes
        mode_t mode;        // then
        bool swept;
    } cases[] = {
        {"the store renamed", FirstBtrfs() + "/renamed-store", 0700, true},
        {"the store moved into another subvolume", other + "/kept", 0700, true},
        {"the store renamed and opened to others", FirstBtrfs() + "/open-store", 0777, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string device = SnapshotInChild(volume, VSS_CTX_BACKUP, true).first;
        ASSERT_TRUE(Exists(device)) << device;
        const std::string id = device.substr(device.rfind('/') + 1);
        RemoveAfterTest(c.moved);
        ASSERT_EQ(0, ::rename(store.c_str(), c.moved.c_str()));
        ASSERT_EQ(0, ::chmod(c.moved.c_str(), c.mode));
        AddInThisProcess(volume);
        EXPECT_EQ(!c.swept, Exists(c.moved + "/" + id));
        std::vector<std::string> names;
        UniqueFd moved(::open(c.moved.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        ASSERT_EQ(0, ListDirectory(moved.Get(), names));
        EXPECT_EQ(c.swept ? 0u : 1u, names.size()) << "the snapshot's folder";
    }
}

TEST_F(BtrfsProcessTest, ReleasedChildLeavesNothing) {
    const std::string volume = NewSubvolume("released");
    const auto [device, set] = SnapshotInChild(volume, VSS_CTX_BACKUP, false);
    ASSERT_FALSE(device.empty());
    EXPECT_FALSE(Exists(device));
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
