#include "win32/FakeVss.h"

#include <cstdio>

namespace quorlin {
namespace testing {

namespace {

std::string Narrow(const wchar_t* text) {
    std::string narrow;
    for (; text && *text; ++text)
        narrow.push_back(static_cast<char>(*text));
    return narrow;
}

wchar_t* CopyForVss(const std::wstring& text) {
    auto* copy = static_cast<wchar_t*>(::CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    text.copy(copy, text.size());
    copy[text.size()] = L'\0';
    return copy;
}

}  // namespace

std::string GuidText(const GUID& id) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08lx-%04x-%04x-%02x%02x}",
                  static_cast<unsigned long>(id.Data1), id.Data2, id.Data3, id.Data4[0],
                  id.Data4[7]);
    return text;
}

HRESULT FakeVssAsync::Wait(DWORD milliseconds) {
    calls.push_back("Wait " + std::to_string(milliseconds));
    return result;
}

HRESULT FakeVssAsync::QueryStatus(HRESULT* statusOut, INT* reserved) {
    calls.push_back(reserved ? "QueryStatus reserved" : "QueryStatus");
    *statusOut = pendingPolls != 0 ? VSS_S_ASYNC_PENDING : status;
    if (pendingPolls > 0)
        --pendingPolls;
    return result;
}

HRESULT FakeVssComponents::HandOut(const char* name, IVssAsync** async) {
    calls.push_back(name);
    if (operation != nullptr) {
        operation->AddRef();
        *async = operation;
    }
    return result;
}

HRESULT FakeVssComponents::InitializeForBackup(BSTR xml) {
    calls.push_back(xml ? "InitializeForBackup " + Narrow(xml) + " length " +
                              std::to_string(::SysStringLen(xml))
                        : "InitializeForBackup null");
    return result;
}

HRESULT FakeVssComponents::SetBackupState(boolean selectComponents, boolean bootable,
                                          VSS_BACKUP_TYPE type, boolean partial) {
    calls.push_back("SetBackupState " + std::to_string(selectComponents) + "," +
                    std::to_string(bootable) + "," + std::to_string(type) + "," +
                    std::to_string(partial));
    return result;
}

HRESULT FakeVssComponents::GatherWriterMetadata(IVssAsync** async) {
    return HandOut("GatherWriterMetadata", async);
}

HRESULT FakeVssComponents::PrepareForBackup(IVssAsync** async) {
    return HandOut("PrepareForBackup", async);
}

HRESULT FakeVssComponents::AbortBackup() {
    calls.push_back("AbortBackup");
    return result;
}

HRESULT FakeVssComponents::BackupComplete(IVssAsync** async) {
    return HandOut("BackupComplete", async);
}

HRESULT FakeVssComponents::SetContext(LONG context) {
    calls.push_back("SetContext " + std::to_string(context));
    return result;
}

HRESULT FakeVssComponents::StartSnapshotSet(VSS_ID* setId) {
    calls.push_back("StartSnapshotSet");
    *setId = GUID{0x5E7, 1, 2, {3, 0, 0, 0, 0, 0, 0, 4}};
    return result;
}

HRESULT FakeVssComponents::AddToSnapshotSet(VSS_PWSZ volume, VSS_ID provider, VSS_ID* snapshotId) {
    calls.push_back("AddToSnapshotSet " + Narrow(volume) + " " + GuidText(provider));
    *snapshotId = GUID{0x5A9, 1, 2, {3, 0, 0, 0, 0, 0, 0, 4}};
    return result;
}

HRESULT FakeVssComponents::DoSnapshotSet(IVssAsync** async) {
    return HandOut("DoSnapshotSet", async);
}

HRESULT FakeVssComponents::DeleteSnapshots(VSS_ID source, VSS_OBJECT_TYPE type, WINBOOL force,
                                           LONG* deleted, VSS_ID* nondeleted) {
    calls.push_back("DeleteSnapshots " + GuidText(source) + " " + std::to_string(type) + " " +
                    std::to_string(force));
    *deleted = 1;
    *nondeleted = GUID_NULL;
    return result;
}

HRESULT FakeVssComponents::GetSnapshotProperties(VSS_ID snapshotId, VSS_SNAPSHOT_PROP* prop) {
    calls.push_back("GetSnapshotProperties " + GuidText(snapshotId));
    if (FAILED(result))
        return result;
    prop->m_SnapshotId = snapshotId;
    prop->m_SnapshotSetId = GUID{0x5E7, 1, 2, {3, 0, 0, 0, 0, 0, 0, 4}};
    prop->m_lSnapshotsCount = 1;
    prop->m_pwszSnapshotDeviceObject = CopyForVss(device);
    prop->m_pwszOriginalVolumeName = CopyForVss(L"\\\\?\\Volume{0b6bd4a4-0000-0000-0000}\\");
    prop->m_pwszOriginatingMachine = CopyForVss(L"host");
    prop->m_pwszServiceMachine = CopyForVss(L"host");
    return result;
}

}  // namespace testing
}  // namespace quorlin
