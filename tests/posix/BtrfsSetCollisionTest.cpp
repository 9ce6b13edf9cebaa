// One snapshot set in creation at a time: a second requester is refused at once with
// VSS_E_SNAPSHOT_SET_IN_PROGRESS until the first one's DoSnapshotSet has ended or its set
// is let go, however that happens; and the lock's folder is never one that others control.
#include "platform/posix/btrfs/SetCreationLock.h"
#include "posix/BtrfsFixture.h"

#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quorlin {
namespace testing {
namespace {

class BtrfsSetCollisionTest : public BtrfsTest {
protected:
    // What a second requester's StartSnapshotSet answers now.
    HRESULT SecondStart() {
        ComPtr<BackupComponents> second;
        EXPECT_EQ(S_OK, CreatePlatformBackupComponents(second));
        EXPECT_EQ(S_OK, second->InitializeForBackup(nullptr));
        VSS_ID setId;
        return second->StartSnapshotSet(&setId);
    }
};

TEST_F(BtrfsSetCollisionTest, SecondRequesterIsRefusedUntilTheFirstHasTakenOrLetGoItsSet) {
    const std::string volume = NewSubvolume("collide");
    struct Case {
        const char* name;
        std::function<void(ComPtr<BackupComponents>&)> step;  // of the first requester
        bool ended;  // whether the step ended the first's creation
    };
    const Case cases[] = {
        {"DoSnapshotSet took the set",
         [&](ComPtr<BackupComponents>& first) { TakeSet(first, {volume}); }, true},
        {"DoSnapshotSet refused, the set still started",
         [](ComPtr<BackupComponents>& first) {
             ComPtr<AsyncOperation> async;
             EXPECT_EQ(VSS_E_BAD_STATE, first->DoSnapshotSet(async));  // nothing added
         },
         false},
        {"AbortBackup", [](ComPtr<BackupComponents>& first) { first->AbortBackup(); }, true},
        {"the last reference went", [](ComPtr<BackupComponents>& first) { first.Reset(); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VSS_ID setId;
        ComPtr<BackupComponents> first = StartSet(VSS_CTX_BACKUP, setId);
        EXPECT_EQ(VSS_E_SNAPSHOT_SET_IN_PROGRESS, SecondStart());
        c.step(first);
        EXPECT_EQ(c.ended ? S_OK : VSS_E_SNAPSHOT_SET_IN_PROGRESS, SecondStart());
        if (first)
            first->AbortBackup();
        EXPECT_EQ(S_OK, SecondStart());
    }
}

TEST_F(BtrfsSetCollisionTest, ARequesterKilledWhileCreatingLetsTheNextOneStart) {
    int ready[2];
    ASSERT_EQ(0, ::pipe2(ready, O_CLOEXEC));
    const pid_t child = ::fork();
    if (child == 0) {
        ComPtr<BackupComponents> components;
        VSS_ID setId;
        const bool started = CreatePlatformBackupComponents(components) == S_OK &&
                             components->InitializeForBackup(nullptr) == S_OK &&
                             components->StartSnapshotSet(&setId) == S_OK;
        (void)!::write(ready[1], started ? "1" : "0", 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char started = 0;
    ASSERT_EQ(1, ::read(ready[0], &started, 1));
    ::close(ready[0]);
    EXPECT_EQ('1', started);
    EXPECT_EQ(VSS_E_SNAPSHOT_SET_IN_PROGRESS, SecondStart());
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(S_OK, SecondStart());
}

TEST_F(BtrfsSetCollisionTest, LockFolderThatOthersControlIsRefused) {
    const std::string base = ScratchPath() + "/lock-places";
    ::mkdir(base.c_str(), 0755);
    RemoveAfterTest(base);
    struct Case {
        const char* name;
        std::string parent;   // made 0755 by root unless `openParent`
        bool openParent;      // the parent may be written by anyone
        std::string prepare;  // "link", "nobody" (a folder of nobody's), "wide" (0755)
        int error;
    };
    const Case cases[] = {
        {"a private folder of root's", base + "/fine", false, "", 0},
        {"a parent that anyone may write", base + "/open", true, "", EACCES},
        {"the folder is a link", base + "/link", false, "link", EACCES},
        {"the folder is someone else's", base + "/nobody", false, "nobody", EACCES},
        {"the folder may be entered by others", base + "/wide", false, "wide", EACCES},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(0, ::mkdir(c.parent.c_str(), 0755));
        if (c.openParent) {
            ASSERT_EQ(0, ::chmod(c.parent.c_str(), 0777));
        }
        const std::string folder = c.parent + "/quorlin";
        if (c.prepare == "link") {
            ASSERT_EQ(0, ::symlink(base.c_str(), folder.c_str()));
        }
        if (c.prepare == "nobody" || c.prepare == "wide") {
            ASSERT_EQ(0, ::mkdir(folder.c_str(), c.prepare == "wide" ? 0755 : 0700));
        }
        if (c.prepare == "nobody") {
            ASSERT_EQ(0, ::chown(folder.c_str(), 65534, 65534));
        }
        UniqueFd lock;
        EXPECT_EQ(c.error, LockSetCreation(lock, folder));
        EXPECT_EQ(c.error == 0, lock.Valid());
        if (c.error == 0) {
            UniqueFd second;
            EXPECT_EQ(EWOULDBLOCK, LockSetCreation(second, folder)) << "never waits";
        }
        struct stat st;
        EXPECT_NE(0, ::stat((base + "/snapshot-set.lock").c_str(), &st)) << "nothing through links";
    }
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
