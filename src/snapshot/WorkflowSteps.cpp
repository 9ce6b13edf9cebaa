#include "snapshot/WorkflowSteps.h"

#include "diag/Exceptions.h"
#include "diag/SystemErrorText.h"
#include "diag/Trace.h"
#include "platform/Platform.h"
#include "snapshot/LimitedWait.h"
#include "snapshot/PathTranslation.h"
#include "text/Format.h"

#include <cwchar>

namespace quorlin {

namespace {

thread_local SnapshotPathReceiver* t_receiver = nullptr;

using StartOperation = HRESULT (BackupComponents::*)(ComPtr<AsyncOperation>&);

// Step lines of an operation: before its call, its Wait and its QueryStatus (null: none).
struct OperationLines {
    const wchar_t* call;
    const wchar_t* wait;
    const wchar_t* status;
};

// A call that reports success but hands out no object counts as failed: nothing
// could be done with it.
HRESULT ResultWithObject(HRESULT hr, bool hasObject) {
    return hr == S_OK && !hasObject ? E_UNEXPECTED : hr;
}

// Starts an operation, waits for it within `limit` milliseconds (0: no limit) and
// returns its final status. `started` becomes true once the operation has started.
HRESULT AwaitOperation(BackupComponents& components, StartOperation start,
                       const OperationLines& lines, Phase phase, const AsyncSites& sites,
                       DWORD limit, bool* started = nullptr) {
    MarkPhase(phase);
    TraceDetail(lines.call);
    ComPtr<AsyncOperation> async;
    const HRESULT hr = (components.*start)(async);
    CheckResult(ResultWithObject(hr, static_cast<bool>(async)), sites.call);
    if (started)
        *started = true;
    if (lines.wait)
        TraceDetail(lines.wait);
    CheckResult(WaitWithin(*async.Get(), limit), sites.wait);
    if (lines.status)
        TraceDetail(lines.status);
    HRESULT status = S_OK;
    CheckResult(async->QueryStatus(&status, nullptr), sites.status);
    return status;
}

void RequireFinished(HRESULT status, const wchar_t* failure, FailureKind kind) {
    if (status != VSS_S_ASYNC_FINISHED)
        ThrowQuorlinFailure(failure, {kind, 0, 0, {}});
}

}  // namespace

SnapshotPathReceiver::SnapshotPathReceiver() noexcept : previous_(t_receiver) { t_receiver = this; }

SnapshotPathReceiver::~SnapshotPathReceiver() { t_receiver = previous_; }

void CheckResult(HRESULT hr, int site) {
    if (hr != S_OK)
        ThrowComFailure(hr, site);
}

void CreateComponents(ComPtr<BackupComponents>& components, int site) {
    TraceDetail(L"Calling CreateVssBackupComponents");
    const HRESULT hr = CreateVssBackupComponents(components);
    CheckResult(ResultWithObject(hr, static_cast<bool>(components)), site);
}

void InitializeForBackup(BackupComponents& components, int site) {
    TraceDetail(L"Calling InitializeForBackup");
    CheckResult(components.InitializeForBackup(nullptr), site);
}

void StartSnapshotSet(BackupComponents& components, VSS_ID& snapshotSetId, int site) {
    MarkPhase(Phase::kAddVolumes);
    TraceDetail(L"Calling StartSnapshotSet");
    CheckResult(components.StartSnapshotSet(&snapshotSetId), site);
}

void SetBackupState(BackupComponents& components, bool bootableSystemState, int backupType,
                    int site) {
    TraceDetail(L"Calling SetBackupState");
    const VSS_BACKUP_TYPE type = backupType == 2 ? VSS_BT_INCREMENTAL : VSS_BT_FULL;
    CheckResult(components.SetBackupState(true, bootableSystemState, type, false), site);
}

void AddToSnapshotSet(BackupComponents& components, const wchar_t* volumePath, VSS_ID& snapshotId,
                      int site) {
    TraceDetail(L"Calling AddToSnapshotSet");
    CheckResult(components.AddToSnapshotSet(volumePath, GUID_NULL, &snapshotId), site);
}

void GatherWriterMetadata(BackupComponents& components, const AsyncSites& sites, DWORD limit) {
    const OperationLines lines = {L"Calling GatherWriterMetadata", L"Waiting for writer metadata",
                                  L"Calling QueryStatus for GatherWriterMetadata"};
    const HRESULT status = AwaitOperation(components, &BackupComponents::GatherWriterMetadata,
                                          lines, Phase::kGatherWriters, sites, limit);
    if (status == VSS_S_ASYNC_CANCELLED)
        ThrowQuorlinFailure(L"GatherWriterMetadata was cancelled.",
                            {FailureKind::kGatherCancelled, 0, 0, {}});
}

void PrepareForBackup(BackupComponents& components, const AsyncSites& sites, DWORD limit) {
    const OperationLines lines = {L"Calling PrepareForBackup", nullptr, nullptr};
    RequireFinished(AwaitOperation(components, &BackupComponents::PrepareForBackup, lines,
                                   Phase::kPrepare, sites, limit),
                    L"Prepare for backup failed.", FailureKind::kPrepareFailed);
}

void DoSnapshotSet(BackupComponents& components, const AsyncSites& sites, DWORD limit,
                   bool& snapshotStarted) {
    const OperationLines lines = {L"Calling DoSnapshotSet", nullptr, nullptr};
    RequireFinished(AwaitOperation(components, &BackupComponents::DoSnapshotSet, lines,
                                   Phase::kSnapshot, sites, limit, &snapshotStarted),
                    L"DoSnapshotSet failed.", FailureKind::kSnapshotFailed);
}

void BackupComplete(BackupComponents& components, const AsyncSites& sites, DWORD limit) {
    const OperationLines lines = {L"Calling BackupComplete", nullptr, nullptr};
    RequireFinished(AwaitOperation(components, &BackupComponents::BackupComplete, lines,
                                   Phase::kComplete, sites, limit),
                    L"Completion of backup failed.", FailureKind::kCompletionFailed);
}

std::vector<wchar_t> NewVolumeRootBuffer() {
    return std::vector<wchar_t>(PlatformVolumeRootRoom(), L'\0');
}

const wchar_t* LookUpVolume(const wchar_t* path, std::wstring& fullPath, size_t& room,
                            std::vector<wchar_t>& rootBuffer) {
    Host& host = GetHost();
    size_t sizingLength = 0;
    if (host.GetFullPathName(path, fullPath, sizingLength) &&
        host.GetVolumePathName(fullPath.c_str(), rootBuffer.data(),
                               static_cast<DWORD>(rootBuffer.size()))) {
        room = PlatformSnapshotPathRoom(sizingLength);
        return rootBuffer.data();
    }
    const uint32_t error = host.GetLastError();
    std::wstring errorText;
    GetSystemErrorText(error, errorText);
    // The system's message alone, without the line end that Windows gives it.
    std::wstring message;
    if (!host.SystemMessage(error, message))
        message.clear();
    while (!message.empty() &&
           (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    ThrowQuorlinFailure(
        FormatText(
            L"There was an error retrieving the volume name from the path. Path: %s Error: %s",
            {path, errorText}),
        {FailureKind::kVolumeLookup, error, 0, message});
}

std::wstring SnapshotPathOf(BackupComponents& components, const VSS_ID& snapshotId,
                            const std::wstring& fullPath, const wchar_t* volumeRoot, int site) {
    SnapshotProperties properties;
    CheckResult(components.GetSnapshotProperties(snapshotId, &properties), site);
    CheckResult(ResultWithObject(S_OK, !properties.snapshotDeviceObject.empty()), site);
    TraceDetail(L"Calling CalculateSourcePath");
    std::wstring snapshotPath;
    CalculateSourcePath(properties.snapshotDeviceObject.c_str(), fullPath.c_str(), volumeRoot,
                        snapshotPath);
    return snapshotPath;
}

void CopySnapshotPath(const std::wstring& snapshotPath, const std::wstring& fullPath, size_t room,
                      wchar_t* buffer) {
    const size_t needed = snapshotPath.size() + 1;
    if (needed > room) {
        ThrowQuorlinFailure(FormatText(L"The snapshot path of %s needs %d units, more than the %d "
                                       L"that the header promises.",
                                       {fullPath, static_cast<unsigned long>(needed),
                                        static_cast<unsigned long>(room)}),
                            {FailureKind::kPathTooLong, 0, 0, {}});
    }
    if (t_receiver != nullptr)
        t_receiver->paths.push_back(snapshotPath);
    else
        std::wmemcpy(buffer, snapshotPath.c_str(), needed);
}

}  // namespace quorlin
