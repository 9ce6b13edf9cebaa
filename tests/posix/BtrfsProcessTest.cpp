// Snapshots and the processes that own them: persistent ones outlive their maker and
// are deleted from another process; auto-release ones of a dead process are swept.
#include "platform/posix/btrfs/Guid.h"
#include "platform/posix/Utf8.h"
#include "posix/BtrfsFixture.h"

namespace quorlin {
namespace testing {
namespace {

class BtrfsProcessTest : public BtrfsTest {
protected:
    // Runs in a child process: takes a snapshot of `volume` in `context`, sends back the
    // device path and the set identity, then releases the components object or, when
    // `crash`, exits without releasing anything. The child's result: device, set id.
    std::pair<std::string, std::string> SnapshotInChild(const std::string& volume, LONG context,
                                                        bool crash) {
        const std::string message = RunInChild([&] {
            ComPtr<BackupComponents> components;
            VSS_ID setId = GUID_NULL, id;
            ComPtr<AsyncOperation> async;
            SnapshotProperties properties;
            HRESULT status = E_FAIL;
            std::string result = "failed";
            if (CreatePlatformBackupComponents(components) == S_OK &&
                components->InitializeForBackup(nullptr) == S_OK &&
                components->SetContext(context) == S_OK &&
                components->StartSnapshotSet(&setId) == S_OK &&
                components->AddToSnapshotSet(FromUtf8(volume + "/").c_str(), GUID_NULL, &id) ==
                    S_OK &&
                components->DoSnapshotSet(async) == S_OK &&
                async->QueryStatus(&status, nullptr) == S_OK && status == VSS_S_ASYNC_FINISHED &&
                components->GetSnapshotProperties(id, &properties) == S_OK)
                result = ToUtf8(properties.snapshotDeviceObject) + "\n" + GuidText(setId);
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

TEST_F(BtrfsProcessTest, ReleasedChildLeavesNothing) {
    const std::string volume = NewSubvolume("released");
    const auto [device, set] = SnapshotInChild(volume, VSS_CTX_BACKUP, false);
    ASSERT_FALSE(device.empty());
    EXPECT_FALSE(Exists(device));
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
