// What the components object refuses: volumes it cannot snapshot, and calls out of order.
#include "platform/posix/Utf8.h"
#include "platform/posix/btrfs/ErrnoResult.h"
#include "posix/BtrfsFixture.h"

#include <sys/mount.h>
#include <sys/stat.h>

#include <functional>

namespace quorlin {
namespace testing {
namespace {

using BtrfsSetRulesTest = BtrfsTest;

HRESULT Add(const ComPtr<BackupComponents>& components, const std::string& volume,
            const VSS_ID& provider = GUID_NULL) {
    VSS_ID id;
    return components->AddToSnapshotSet(FromUtf8(volume).c_str(), provider, &id);
}

TEST_F(BtrfsSetRulesTest, AddToSnapshotSetRefusesWhatIsNotASnapshottableVolume) {
    const std::string volume = NewSubvolume("refusals");
    ::mkdir((volume + "/plain").c_str(), 0755);
    WriteFile(volume + "/file", "x");
    const std::string bind = ScratchPath() + "/bind";
    ::mkdir(bind.c_str(), 0755);
    ASSERT_EQ(0, ::mount(volume.c_str(), bind.c_str(), nullptr, MS_BIND, nullptr));
    RemoveAfterTest(bind);
    const std::string link = ScratchPath() + "/link";
    ASSERT_EQ(0, ::symlink(FirstBtrfs().c_str(), link.c_str()));

    VSS_ID setId;
    ComPtr<BackupComponents> components = StartSet(VSS_CTX_BACKUP, setId);
    const VSS_ID provider = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    const struct {
        std::string volume;
        HRESULT expected;
        VSS_ID provider;
    } cases[] = {
        {Tmpfs() + "/", VSS_E_VOLUME_NOT_SUPPORTED, GUID_NULL},        // not btrfs
        {ScratchPath() + "/", VSS_E_VOLUME_NOT_SUPPORTED, GUID_NULL},  // the host's own
        {volume + "/plain/", VSS_E_VOLUME_NOT_SUPPORTED, GUID_NULL},   // not a subvolume root
        {volume + "/file", VSS_E_VOLUME_NOT_SUPPORTED, GUID_NULL},     // not a directory
        {volume + "/missing/", VSS_E_OBJECT_NOT_FOUND, GUID_NULL},     // nothing there
        {"", E_INVALIDARG, GUID_NULL},                                 // no name
        {"relative/", E_INVALIDARG, GUID_NULL},                        // not absolute
        {volume + "/", VSS_E_PROVIDER_NOT_REGISTERED, provider},       // the one provider only
        {volume + "/", S_OK, GUID_NULL},                               // accepted
        {volume, VSS_E_OBJECT_ALREADY_EXISTS, GUID_NULL},              // again, other spelling
        {FirstBtrfs() + "//refusals/./", VSS_E_OBJECT_ALREADY_EXISTS, GUID_NULL},
        {bind + "/", VSS_E_OBJECT_ALREADY_EXISTS, GUID_NULL},           // again, bind-mounted
        {link + "/refusals/", VSS_E_OBJECT_ALREADY_EXISTS, GUID_NULL},  // through a link
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, Add(components, c.volume, c.provider)) << c.volume;
    components.Reset();
}

TEST_F(BtrfsSetRulesTest, ReadOnlyMountIsReportedAsSuch) {
    const std::string volume = NewSubvolume("readonly");
    const std::string bind = ScratchPath() + "/readonly";
    ::mkdir(bind.c_str(), 0755);
    ASSERT_EQ(0, ::mount(volume.c_str(), bind.c_str(), nullptr, MS_BIND, nullptr));
    RemoveAfterTest(bind);
    ASSERT_EQ(0,
              ::mount(nullptr, bind.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr));
    VSS_ID setId;
    ComPtr<BackupComponents> components = StartSet(VSS_CTX_BACKUP, setId);
    EXPECT_EQ(kVolumeReadOnly, Add(components, bind + "/"));
}

TEST_F(BtrfsSetRulesTest, CallsOutOfOrderAreRefusedAsVssRefusesThem) {
    const std::string volume = NewSubvolume("order");
    using Call = std::function<HRESULT(BackupComponents&)>;
    ComPtr<AsyncOperation> async;
    VSS_ID id;
    LONG deleted;
    SnapshotProperties properties;
    const Call initialize = [](BackupComponents& c) { return c.InitializeForBackup(nullptr); };
    const Call context = [](BackupComponents& c) { return c.SetContext(VSS_CTX_NAS_ROLLBACK); };
    const Call gather = [&](BackupComponents& c) { return c.GatherWriterMetadata(async); };
    const Call state = [](BackupComponents& c) {
        return c.SetBackupState(true, false, VSS_BT_FULL, false);
    };
    const Call start = [&](BackupComponents& c) { return c.StartSnapshotSet(&id); };
    const Call add = [&](BackupComponents& c) {
        return c.AddToSnapshotSet(FromUtf8(volume + "/").c_str(), GUID_NULL, &id);
    };
    const Call prepare = [&](BackupComponents& c) { return c.PrepareForBackup(async); };
    const Call take = [&](BackupComponents& c) { return c.DoSnapshotSet(async); };
    const Call properties_ = [&](BackupComponents& c) {
        return c.GetSnapshotProperties(id, &properties);
    };
    const Call complete = [&](BackupComponents& c) { return c.BackupComplete(async); };
    const Call abort = [](BackupComponents& c) { return c.AbortBackup(); };
    const Call remove = [&](BackupComponents& c) {
        return c.DeleteSnapshots(id, VSS_OBJECT_SNAPSHOT_SET, true, &deleted, &id);
    };

    // Each row: calls that succeed, then one that must answer VSS_E_BAD_STATE.
    const struct {
        const char* name;
        std::vector<Call> before;
        Call refused;
    } cases[] = {
        {"context before initialize", {}, context},
        {"start before initialize", {}, start},
        {"abort before initialize", {}, abort},
        {"delete before initialize", {}, remove},
        {"initialize twice", {initialize}, initialize},
        {"add before start", {initialize}, add},
        {"snapshot before start", {initialize}, take},
        {"complete before snapshot", {initialize, start, add}, complete},
        {"start twice", {initialize, start}, start},
        {"context after start", {initialize, start}, context},
        {"snapshot of an empty set", {initialize, start}, take},
        {"snapshot twice", {initialize, gather, start, add, state, prepare, take}, take},
        {"add after snapshot", {initialize, start, add, take}, add},
        {"prepare after snapshot", {initialize, start, add, take}, prepare},
        {"gather after snapshot", {initialize, start, add, take}, gather},
        {"state after snapshot", {initialize, start, add, take}, state},
        {"complete twice", {initialize, start, add, take, complete}, complete},
        {"properties before initialize", {}, properties_},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ComPtr<BackupComponents> components;
        ASSERT_EQ(S_OK, CreatePlatformBackupComponents(components));
        for (const Call& call : c.before)
            EXPECT_EQ(S_OK, call(*components.Get()));
        EXPECT_EQ(VSS_E_BAD_STATE, c.refused(*components.Get()));
    }
}

TEST_F(BtrfsSetRulesTest, ArgumentsOutsideWhatVssTakesAreInvalid) {
    ComPtr<BackupComponents> components;
    ASSERT_EQ(S_OK, CreatePlatformBackupComponents(components));
    EXPECT_EQ(E_INVALIDARG, components->InitializeForBackup(L"<BackupComponents/>"));
    ASSERT_EQ(S_OK, components->InitializeForBackup(nullptr));
    for (LONG context : {1, 8, 0x10, 0x18, 0x1d, -1})
        EXPECT_EQ(E_INVALIDARG, components->SetContext(context)) << context;
    EXPECT_EQ(S_OK, components->SetContext(VSS_CTX_NAS_ROLLBACK));
    EXPECT_EQ(S_OK, components->SetContext(VSS_CTX_BACKUP));
    EXPECT_EQ(E_INVALIDARG, components->SetBackupState(true, false, VSS_BT_UNDEFINED, false));
    EXPECT_EQ(E_INVALIDARG, components->StartSnapshotSet(nullptr));

    VSS_ID id = GUID_NULL;
    LONG deleted = 7;
    VSS_ID notDeleted = {9, 9, 9, {9}};
    EXPECT_EQ(VSS_E_OBJECT_NOT_FOUND, components->DeleteSnapshots(id, VSS_OBJECT_SNAPSHOT_SET, true,
                                                                  &deleted, &notDeleted));
    EXPECT_EQ(0, deleted);
    EXPECT_TRUE(notDeleted == GUID_NULL);
    EXPECT_EQ(E_INVALIDARG,
              components->DeleteSnapshots(id, VSS_OBJECT_PROVIDER, true, &deleted, &notDeleted));
    EXPECT_EQ(E_INVALIDARG,
              components->DeleteSnapshots(id, VSS_OBJECT_SNAPSHOT_SET, true, nullptr, &notDeleted));

    ComPtr<AsyncOperation> async;
    ASSERT_EQ(S_OK, components->GatherWriterMetadata(async));
    HRESULT status = S_OK;
    EXPECT_EQ(S_OK, async->Wait(0));
    EXPECT_EQ(S_OK, async->QueryStatus(&status, nullptr));
    EXPECT_EQ(VSS_S_ASYNC_FINISHED, status);
    EXPECT_EQ(E_INVALIDARG, async->QueryStatus(nullptr, nullptr));
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
