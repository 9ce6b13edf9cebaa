// What a kill or root's own hand leaves in a store is found again: a snapshot whose record
// root removed, and a store that a killed process was making.
#include "platform/posix/Utf8.h"
#include "platform/posix/btrfs/Guid.h"
#include "platform/posix/btrfs/SnapshotStore.h"
#include "posix/BtrfsFixture.h"
#include "posix/ScratchVolume.h"
#include "platform/HeldSnapshots.h"

namespace quorlin {
namespace testing {
namespace {

using BtrfsLeftoverTest = BtrfsTest;

TEST_F(BtrfsLeftoverTest, AnOrphanWhoseRecordRootRemovedIsStillListedAndDeleted) {
    const std::string volume = NewSubvolume("orphaned");
    WriteFile(volume + "/kept", "kept");  // an empty snapshot rm -rf could remove
    const std::string device = RunInChild([&] {
        VSS_ID setId;
        ComPtr<BackupComponents> components = StartSet(VSS_CTX_BACKUP, setId);
        const std::string path = DevicePath(components, TakeSet(components, {volume})[0]);
        components->AddRef();  // held until the process ends, as by a crashed host
        return path;
    });
    ASSERT_TRUE(Exists(device)) << device;
    // What rm -rf can remove goes (the record); the read-only snapshot and its folders stay.
    RunQuietly("rm -rf '" + StorePath(FirstBtrfs()) + "'");
    ASSERT_TRUE(Exists(device));
    const std::wstring mount = FromUtf8(FirstBtrfs());
    std::vector<HeldSnapshot> held;
    ASSERT_EQ(S_OK, ListHeldSnapshots(&mount, held));
    ASSERT_EQ(1u, held.size());
    EXPECT_EQ(GuidText(GUID_NULL), GuidText(held[0].setId)) << "its set is not known any more";
    EXPECT_EQ(device.substr(device.rfind('/') + 1), GuidText(held[0].snapshotId));
    EXPECT_EQ(OwnerState::kGone, held[0].owner);
    LONG deleted = 0;
    EXPECT_EQ(S_OK, DeleteOrphans(&mount, deleted));
    EXPECT_EQ(1, deleted);
    EXPECT_FALSE(Exists(device));
    EXPECT_TRUE(NothingStored());
}

TEST_F(BtrfsLeftoverTest, AStoreThatAKilledProcessWasMakingIsSweptNotKept) {
    const std::string volume = NewSubvolume("first-store");
    RemoveTree(StorePath(FirstBtrfs()));
    GUID id;
    ASSERT_EQ(0, NewRandomGuid(id));
    const std::string unpublished =
        FirstBtrfs() + "/" + kStoreDirectoryName + kStoreInMakingMark + GuidText(id);
    ASSERT_TRUE(MakeSubvolume(unpublished));
    VSS_ID setId;
    ComPtr<BackupComponents> components = StartSet(VSS_CTX_BACKUP, setId);
    TakeSet(components, {volume});
    EXPECT_FALSE(Exists(unpublished)) << "swept when the store was made";
    EXPECT_TRUE(StoreExists(FirstBtrfs()));
    components.Reset();
    EXPECT_TRUE(NothingStored());
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
