// Failures of the calls that change a volume, injected one at a time: whatever fails,
// the failure is reported and nothing is left behind.
#include "platform/posix/btrfs/BtrfsBackupComponents.h"
#include "platform/posix/Utf8.h"
#include "platform/posix/btrfs/Guid.h"
#include "platform/posix/btrfs/VolumeCalls.h"
#include "posix/BtrfsFixture.h"
#include "posix/ScratchVolume.h"
#include "platform/posix/btrfs/SnapshotStore.h"

#include <cerrno>
#include <mutex>

namespace quorlin {
namespace testing {
namespace {

// The real calls, logged by name; the calls numbered `failAt` to `failAt + failCount - 1`
// (from 1), or the `failOccurrence`-th call named `failName`, fail with `error` instead.
class FaultyCalls : public VolumeCalls {
public:
    int failAt = 0;
    int failCount = 1;
    std::string failName;
    int failOccurrence = 1;
    int error = EIO;
    std::vector<std::string> log;

    int CreateStore(int dir, const char* name) override {
        return Call("CreateStore", [&] { return VolumeCalls::CreateStore(dir, name); });
    }
    int CreateRecord(int store, const char* folder, const char* name, UniqueFd& lock) override {
        return Call("CreateRecord",
                    [&] { return VolumeCalls::CreateRecord(store, folder, name, lock); });
    }
    int RemoveFolder(int dir, const char* name) override {
        return Call("RemoveFolder", [&] { return VolumeCalls::RemoveFolder(dir, name); });
    }
    int RemoveFile(int dir, const char* name) override {
        return Call("RemoveFile", [&] { return VolumeCalls::RemoveFile(dir, name); });
    }
    int CreateSnapshot(int source, int dir, const char* name) override {
        return Call("CreateSnapshot",
                    [&] { return VolumeCalls::CreateSnapshot(source, dir, name); });
    }
    int DestroySnapshot(int dir, const char* name) override {
        return Call("DestroySnapshot", [&] { return VolumeCalls::DestroySnapshot(dir, name); });
    }
    int Commit(int fd) override {
        return Call("Commit", [&] { return VolumeCalls::Commit(fd); });
    }

    size_t Count(const std::string& name) const {
        return static_cast<size_t>(std::count(log.begin(), log.end(), name));
    }

private:
    template <class Real>
    int Call(const std::string& name, Real real) {
        const int failure = Fail(name);
        return failure != 0 ? failure : real();
    }

    // The snapshots of a set are taken on threads of their own.
    int Fail(const std::string& name) {
        std::lock_guard<std::mutex> hold(mutex_);
        log.push_back(name);
        const int number = static_cast<int>(log.size());
        const bool fails = (failAt > 0 && number >= failAt && number < failAt + failCount) ||
                           (name == failName && static_cast<int>(Count(name)) == failOccurrence);
        return fails ? error : 0;
    }

    std::mutex mutex_;
};

// One components object over both volumes, changing them through its own calls.
struct Cycle {
    FaultyCalls calls;
    ComPtr<BackupComponents> components;
    VSS_ID setId = GUID_NULL;
    std::vector<VSS_ID> ids;
};

class BtrfsFaultTest : public BtrfsTest {
protected:
    void SetUp() override {
        BtrfsTest::SetUp();
        if (IsSkipped())
            return;
        first_ = NewSubvolume("first");
        second_ = NewSubvolume("second", SecondBtrfs());
    }

    // Starts a set on both volumes and takes it; the status of DoSnapshotSet.
    HRESULT TakeBoth(Cycle& cycle) {
        EXPECT_EQ(S_OK, CreateBtrfsBackupComponents(cycle.calls, cycle.components));
        EXPECT_EQ(S_OK, cycle.components->InitializeForBackup(nullptr));
        EXPECT_EQ(S_OK, cycle.components->StartSnapshotSet(&cycle.setId));
        cycle.ids.assign(2, GUID_NULL);
        const std::string volumes[] = {first_, second_};
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(S_OK, cycle.components->AddToSnapshotSet(FromUtf8(volumes[i] + "/").c_str(),
                                                               GUID_NULL, &cycle.ids[i]));
        ComPtr<AsyncOperation> async;
        EXPECT_EQ(S_OK, cycle.components->DoSnapshotSet(async));
        HRESULT status = E_FAIL;
        if (async) {
            EXPECT_EQ(S_OK, async->QueryStatus(&status, nullptr));
        }
        return status;
    }

    HRESULT DeleteSet(Cycle& cycle, LONG& deleted, VSS_ID& notDeleted) {
        return cycle.components->DeleteSnapshots(cycle.setId, VSS_OBJECT_SNAPSHOT_SET, true,
                                                 &deleted, &notDeleted);
    }

    std::string first_, second_;
};

TEST_F(BtrfsFaultTest, SnapshotFailingPartWayRemovesThoseAlreadyTaken) {
    Cycle cycle;
    cycle.calls.failName = "CreateSnapshot";
    cycle.calls.failOccurrence = 2;
    cycle.calls.error = ENOSPC;
    EXPECT_EQ(VSS_E_INSUFFICIENT_STORAGE, TakeBoth(cycle));
    EXPECT_TRUE(NothingStored());
    EXPECT_EQ(1u, cycle.calls.Count("DestroySnapshot"));  // the first volume's snapshot
    EXPECT_EQ("Commit", cycle.calls.log.back()) << "the removal is committed";
    SnapshotProperties properties;
    EXPECT_EQ(VSS_E_OBJECT_NOT_FOUND,
              cycle.components->GetSnapshotProperties(cycle.ids[0], &properties));
    ComPtr<AsyncOperation> async;
    EXPECT_EQ(VSS_E_BAD_STATE, cycle.components->BackupComplete(async));
}

TEST_F(BtrfsFaultTest, DeletionIsCommittedBeforeDeleteSnapshotsReturns) {
    Cycle cycle;
    ASSERT_EQ(VSS_S_ASYNC_FINISHED, TakeBoth(cycle));
    cycle.calls.log.clear();
    LONG deleted = 0;
    VSS_ID notDeleted;
    EXPECT_EQ(S_OK, DeleteSet(cycle, deleted, notDeleted));
    EXPECT_EQ(2, deleted);
    EXPECT_EQ(2u, cycle.calls.Count("DestroySnapshot"));
    EXPECT_EQ(2u, cycle.calls.Count("Commit"));  // one per file system, after the removals
    EXPECT_EQ("Commit", cycle.calls.log.back());
    EXPECT_TRUE(NothingStored());
}

TEST_F(BtrfsFaultTest, SnapshotThatCannotBeDeletedIsReportedAndGoesOnRelease) {
    Cycle cycle;
    ASSERT_EQ(VSS_S_ASYNC_FINISHED, TakeBoth(cycle));
    cycle.calls.failName = "DestroySnapshot";
    cycle.calls.error = EPERM;
    LONG deleted = 0;
    VSS_ID notDeleted = GUID_NULL;
    EXPECT_EQ(E_ACCESSDENIED, DeleteSet(cycle, deleted, notDeleted));
    EXPECT_EQ(1, deleted);
    EXPECT_TRUE(notDeleted == cycle.ids[0]);
    EXPECT_FALSE(StoreEntries(FirstBtrfs()).empty());
    cycle.components.Reset();
    EXPECT_TRUE(NothingStored());
}

TEST_F(BtrfsFaultTest, OneSnapshotCanBeDeletedByItsIdentity) {
    Cycle cycle;
    ASSERT_EQ(VSS_S_ASYNC_FINISHED, TakeBoth(cycle));
    LONG deleted = 0;
    VSS_ID notDeleted;
    EXPECT_EQ(S_OK, cycle.components->DeleteSnapshots(cycle.ids[1], VSS_OBJECT_SNAPSHOT, true,
                                                      &deleted, &notDeleted));
    EXPECT_EQ(1, deleted);
    EXPECT_TRUE(StoreEntries(SecondBtrfs()).empty());
    SnapshotProperties properties;
    EXPECT_EQ(S_OK, cycle.components->GetSnapshotProperties(cycle.ids[0], &properties));
    EXPECT_EQ(VSS_E_OBJECT_NOT_FOUND,
              cycle.components->GetSnapshotProperties(cycle.ids[1], &properties));
}

TEST_F(BtrfsFaultTest, DeletionThroughAnotherObjectIsCommittedOnEachFileSystem) {
    // Another components object finds the set (or one snapshot) in the stores; each row
    // fails the calls named `failing` (none when empty).
    const struct {
        const char* name;
        bool wholeSet;
        std::string failing;
        HRESULT expected;
        LONG deleted;
        size_t commits;
    } cases[] = {
        {"the set", true, "", S_OK, 2, 2},
        {"one snapshot", false, "", S_OK, 1, 1},
        {"the set, with commits failing", true, "Commit", VSS_E_UNEXPECTED_PROVIDER_ERROR, 2, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Cycle owner;
        ASSERT_EQ(VSS_S_ASYNC_FINISHED, TakeBoth(owner));
        FaultyCalls calls;
        calls.failName = c.failing;
        ComPtr<BackupComponents> other;
        ASSERT_EQ(S_OK, CreateBtrfsBackupComponents(calls, other));
        ASSERT_EQ(S_OK, other->InitializeForBackup(nullptr));
        LONG deleted = 0;
        VSS_ID notDeleted;
        EXPECT_EQ(c.expected,
                  other->DeleteSnapshots(c.wholeSet ? owner.setId : owner.ids[1],
                                         c.wholeSet ? VSS_OBJECT_SNAPSHOT_SET : VSS_OBJECT_SNAPSHOT,
                                         true, &deleted, &notDeleted));
        EXPECT_EQ(c.deleted, deleted);
        EXPECT_EQ(static_cast<size_t>(c.deleted), calls.Count("DestroySnapshot"));
        EXPECT_EQ(c.commits, calls.Count("Commit"));
        ASSERT_FALSE(calls.log.empty());
        EXPECT_EQ("Commit", calls.log.back()) << "committed after the removals";
        EXPECT_EQ(!c.wholeSet, Exists(StorePath(FirstBtrfs()) + "/" + GuidText(owner.ids[0])));
        owner.components.Reset();
        EXPECT_TRUE(NothingStored());
    }
}

// Fails each call of a whole cycle in turn (take, read the properties, complete, delete,
// release), alone and together with the call after it (so that the clean-up after a
// failure fails too): the cycle reports the failure where it matters and leaves nothing
// behind once released.
TEST_F(BtrfsFaultTest, EveryFailingCallOfACycleLeavesNothingBehind) {
    auto run = [&](Cycle& cycle) {
        const HRESULT status = TakeBoth(cycle);
        SnapshotProperties properties;
        const HRESULT expected = status == VSS_S_ASYNC_FINISHED ? S_OK : VSS_E_OBJECT_NOT_FOUND;
        for (const VSS_ID& id : cycle.ids)
            EXPECT_EQ(expected, cycle.components->GetSnapshotProperties(id, &properties));
        if (status != VSS_S_ASYNC_FINISHED)
            return;
        ComPtr<AsyncOperation> async;
        EXPECT_EQ(S_OK, cycle.components->BackupComplete(async));
        LONG deleted = 0;
        VSS_ID notDeleted = GUID_NULL;
        if (DeleteSet(cycle, deleted, notDeleted) == S_OK) {
            EXPECT_EQ(2, deleted);
        }
        if (notDeleted != GUID_NULL) {
            EXPECT_TRUE(notDeleted == cycle.ids[0] || notDeleted == cycle.ids[1]);
        }
    };
    for (const std::string& mount : {FirstBtrfs(), SecondBtrfs()})
        RemoveTree(StorePath(mount));
    Cycle clean;
    run(clean);
    const int total = static_cast<int>(clean.calls.log.size());
    ASSERT_GT(total, 10);
    for (int count = 1; count <= 2; ++count)
        for (int n = 1; n <= total; ++n) {
            for (const std::string& mount : {FirstBtrfs(), SecondBtrfs()})
                RemoveTree(StorePath(mount));  // so that each cycle makes the stores again
            Cycle cycle;
            cycle.calls.failAt = n;
            cycle.calls.failCount = count;
            run(cycle);
            cycle.components.Reset();
            ASSERT_TRUE(NothingStored())
                << count << " calls from " << n << " (" << clean.calls.log[n - 1] << ") failing";
        }
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
