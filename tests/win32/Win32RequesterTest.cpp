// The requester adapter over VSS: the real CreateVssBackupComponents under Wine,
// and the forwarding of every operation, checked against stand-in VSS objects.
#include "platform/win32/VssComponents.h"
#include "platform/Requester.h"
#include "win32/FakeVss.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorlin {
namespace {

using testing::FakeVssAsync;
using testing::FakeVssComponents;
using testing::GuidText;

TEST(Win32RequesterTest, WineAnswersNotImplementedWithNoObject) {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    ComPtr<BackupComponents> components;
    EXPECT_EQ(E_NOTIMPL, CreatePlatformBackupComponents(components));
    EXPECT_FALSE(components);
    EXPECT_EQ(E_NOTIMPL, CreateVssBackupComponents(components));  // no factory installed
    EXPECT_FALSE(components);
    ::CoUninitialize();
}

TEST(Win32RequesterTest, ReferencesAreForwardedAndTheLastReleaseLetsGo) {
    FakeVssComponents native;
    {
        ComPtr<BackupComponents> components;
        AdoptVssBackupComponents(&native, components);
        EXPECT_EQ(1u, native.references);  // the creator's reference, taken over
        {
            ComPtr<BackupComponents> copy(components);
            EXPECT_EQ(2u, native.references);
            EXPECT_EQ(3u, copy->AddRef());
            EXPECT_EQ(2u, copy->Release());
        }
        EXPECT_EQ(1u, native.references);
        components->AbortBackup();  // still usable
    }
    EXPECT_EQ(0u, native.references);
    EXPECT_EQ(std::vector<std::string>{"AbortBackup"}, native.calls);
}

TEST(Win32RequesterTest, CallsKeepTheirArgumentsAndResults) {
    FakeVssComponents native;
    native.AddRef();  // the test's own, so that the object outlives the adapter
    ComPtr<BackupComponents> components;
    AdoptVssBackupComponents(&native, components);
    for (HRESULT result : {S_OK, S_FALSE, VSS_E_BAD_STATE}) {
        native.result = result;
        native.calls.clear();
        const VSS_ID provider = {0xABC, 7, 8, {9, 0, 0, 0, 0, 0, 0, 1}};
        VSS_ID setId = GUID_NULL;
        VSS_ID snapshotId = GUID_NULL;
        LONG deleted = 0;
        VSS_ID nondeleted;
        EXPECT_EQ(result, components->InitializeForBackup(nullptr));
        EXPECT_EQ(result, components->InitializeForBackup(L"<doc/>"));
        EXPECT_EQ(result, components->SetContext(VSS_CTX_NAS_ROLLBACK));
        EXPECT_EQ(result, components->SetBackupState(true, false, VSS_BT_INCREMENTAL, false));
        EXPECT_EQ(result, components->SetBackupState(false, true, VSS_BT_FULL, true));
        EXPECT_EQ(result, components->StartSnapshotSet(&setId));
        EXPECT_EQ(result, components->AddToSnapshotSet(L"C:\\", provider, &snapshotId));
        EXPECT_EQ(result, components->AbortBackup());
        EXPECT_EQ(result, components->DeleteSnapshots(setId, VSS_OBJECT_SNAPSHOT_SET, true,
                                                      &deleted, &nondeleted));
        EXPECT_EQ(0x5E7u, setId.Data1);
        EXPECT_EQ(0x5A9u, snapshotId.Data1);
        EXPECT_EQ(1, deleted);
        const std::vector<std::string> expected = {
            "InitializeForBackup null",
            "InitializeForBackup <doc/> length 6",
            "SetContext 25",
            "SetBackupState 1,0,2,0",
            "SetBackupState 0,1,1,1",
            "StartSnapshotSet",
            "AddToSnapshotSet C:\\ " + GuidText(provider),
            "AbortBackup",
            "DeleteSnapshots " + GuidText(setId) + " 2 1",
        };
        EXPECT_EQ(expected, native.calls) << std::hex << result;
    }
    components.Reset();
    EXPECT_EQ(1u, native.references);
}

using OperationCall = HRESULT (BackupComponents::*)(ComPtr<AsyncOperation>&);

struct OperationCase {
    const char* name;
    OperationCall call;
};

const OperationCase kOperations[] = {
    {"GatherWriterMetadata", &BackupComponents::GatherWriterMetadata},
    {"PrepareForBackup", &BackupComponents::PrepareForBackup},
    {"DoSnapshotSet", &BackupComponents::DoSnapshotSet},
    {"BackupComplete", &BackupComponents::BackupComplete},
};

TEST(Win32RequesterTest, OperationsHandOutTheVssOperationBehindTheSeam) {
    for (const OperationCase& c : kOperations) {
        FakeVssComponents native;
        FakeVssAsync async;  // the test holds one reference throughout
        native.operation = &async;
        async.status = VSS_S_ASYNC_CANCELLED;
        ComPtr<BackupComponents> components;
        AdoptVssBackupComponents(&native, components);
        ComPtr<AsyncOperation> operation;
        EXPECT_EQ(S_OK, ((*components.Get()).*c.call)(operation)) << c.name;
        ASSERT_TRUE(operation) << c.name;
        EXPECT_EQ(2u, async.references) << c.name;
        EXPECT_EQ(S_OK, operation->Wait(INFINITE));
        HRESULT status = S_OK;
        EXPECT_EQ(S_OK, operation->QueryStatus(&status, nullptr));
        EXPECT_EQ(VSS_S_ASYNC_CANCELLED, status) << c.name;
        EXPECT_EQ((std::vector<std::string>{"Wait 4294967295", "QueryStatus"}), async.calls);

        // A failure without an object empties the place and drops what it held.
        native.operation = nullptr;
        native.result = VSS_E_BAD_STATE;
        EXPECT_EQ(VSS_E_BAD_STATE, ((*components.Get()).*c.call)(operation)) << c.name;
        EXPECT_FALSE(operation) << c.name;
        EXPECT_EQ(1u, async.references) << c.name;
        EXPECT_EQ((std::vector<std::string>{c.name, c.name}), native.calls);
    }
}

// VSS before Vista takes only INFINITE for Wait: a limited wait polls QueryStatus until the
// operation has ended, the time has passed or QueryStatus fails, and answers S_OK as Wait.
TEST(Win32RequesterTest, ALimitedWaitPollsTheStatusInsteadOfHandingVssTheLimit) {
    const struct {
        const char* what;
        DWORD milliseconds;
        int pendingPolls;
        HRESULT answer;  // of the native calls
        int polls;       // 0: Wait(INFINITE) instead; -1: two or more, until the time passed
    } cases[] = {
        {"no limit", INFINITE, -1, S_OK, 0},
        {"ends after three polls", 60000, 3, S_OK, 4},
        {"QueryStatus fails", 60000, -1, E_ACCESSDENIED, 1},
        {"never ends", 40, -1, S_OK, -1},
    };
    for (const auto& c : cases) {
        FakeVssComponents native;
        FakeVssAsync async;
        async.pendingPolls = c.pendingPolls;
        async.result = c.answer;
        native.operation = &async;
        ComPtr<BackupComponents> components;
        AdoptVssBackupComponents(&native, components);
        ComPtr<AsyncOperation> operation;
        components->DoSnapshotSet(operation);
        ASSERT_TRUE(operation) << c.what;
        EXPECT_EQ(S_OK, operation->Wait(c.milliseconds)) << c.what;
        if (c.polls == 0) {
            EXPECT_EQ(std::vector<std::string>{"Wait 4294967295"}, async.calls) << c.what;
            continue;
        }
        EXPECT_EQ(std::vector<std::string>(async.calls.size(), "QueryStatus"), async.calls)
            << c.what;
        if (c.polls > 0)
            EXPECT_EQ(static_cast<size_t>(c.polls), async.calls.size()) << c.what;
        else
            EXPECT_GE(async.calls.size(), 2u) << c.what;
    }
}

// Wine's VssFreeSnapshotProperties is not implemented; this one frees the
// record's strings as VSS does and counts its calls.
int g_freedRecords = 0;
void FreeRecord(VSS_SNAPSHOT_PROP* prop) {
    ++g_freedRecords;
    for (VSS_PWSZ text : {prop->m_pwszSnapshotDeviceObject, prop->m_pwszOriginalVolumeName,
                          prop->m_pwszOriginatingMachine, prop->m_pwszServiceMachine,
                          prop->m_pwszExposedName, prop->m_pwszExposedPath})
        ::CoTaskMemFree(text);
}

TEST(Win32RequesterTest, SnapshotPropertiesAreCopiedOutAndTheRecordFreedAtOnce) {
    FakeVssComponents native;
    ComPtr<BackupComponents> components;
    AdoptVssBackupComponents(&native, components, &FreeRecord);
    const VSS_ID snapshot = {0x5A9, 1, 2, {3, 0, 0, 0, 0, 0, 0, 4}};
    g_freedRecords = 0;
    SnapshotProperties properties;
    ASSERT_EQ(S_OK, components->GetSnapshotProperties(snapshot, &properties));
    EXPECT_EQ(1, g_freedRecords);
    EXPECT_EQ(L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy7",
              properties.snapshotDeviceObject);
    EXPECT_EQ(L"\\\\?\\Volume{0b6bd4a4-0000-0000-0000}\\", properties.originalVolumeName);
    EXPECT_TRUE(properties.snapshotId == snapshot);
    EXPECT_EQ(0x5E7u, properties.snapshotSetId.Data1);

    // A failed call filled nothing: nothing is copied, nothing freed.
    native.result = VSS_E_OBJECT_NOT_FOUND;
    native.device = L"other";
    EXPECT_EQ(VSS_E_OBJECT_NOT_FOUND, components->GetSnapshotProperties(snapshot, &properties));
    EXPECT_EQ(1, g_freedRecords);
    EXPECT_EQ(L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy7",
              properties.snapshotDeviceObject);
}

}  // namespace
}  // namespace quorlin
