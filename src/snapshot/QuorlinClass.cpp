// The snapshot workflows behind the start and completion calls, the clean-up of
// a backup, and the destructor's completion.
//
// Each entry point runs its preparation steps, then its protected region through
// the failure capture (snapshot/FailureCapture.h): a failure there aborts the
// backup, deletes the snapshot set once DoSnapshotSet has started (whether or not
// its wait succeeded), writes one report line and becomes result 1. The numbers
// below are the fixed site numbers that the COM-failure report line shows for each
// call.
//
// What is left of a backup that ended is decided here, once, for every host (the
// class's own, the destructor, the C interface): a start call that failed lets go of
// its components object when no snapshot of its set remains, so that nothing calls
// BackupComplete on an aborted object; a set whose deletion failed stays known, and
// completing the agent then only deletes it (agent/AgentRecords.h keeps what the
// fields cannot hold: the set's kind and that only its deletion is left).
#include "Quorlin.h"

#include "agent/AgentRecords.h"
#include "diag/Exceptions.h"
#include "diag/Trace.h"
#include "platform/Platform.h"
#include "snapshot/FailureCapture.h"
#include "snapshot/HostPreparation.h"
#include "snapshot/MultiPathVolumes.h"
#include "snapshot/WorkflowSteps.h"
#include "text/Format.h"

#include <cwchar>
#include <string>
#include <vector>

using quorlin::AsyncSites;
using quorlin::BackupComponents;
using quorlin::ComPtr;
using quorlin::EntryCapture;
using quorlin::TraceDetail;

namespace {

// Site numbers of the workflows with writers.
struct WriterSites {
    int create;
    int initialize;
    AsyncSites gather;
    int snapshotSet;
    int add;
    int backupState;
    AsyncSites prepare;
    AsyncSites doSnapshot;
    int properties;
};

const WriterSites kStartBackupSites = {
    325, 328, {333, 336, 340}, 486, 505, 549, {553, 555, 558}, {570, 572, 577}, 586};
const WriterSites kStartBackup2Sites = {
    882, 885, {890, 893, 897}, 1044, 1076, 1122, {1126, 1128, 1131}, {1143, 1145, 1150}, 1174};

// Site numbers of the workflow without writers.
struct NoWriterSites {
    int create;
    int initialize;
    int context;
    int backupState;
    int snapshotSet;
    int add;
    AsyncSites doSnapshot;
    int properties;
};

const NoWriterSites kNoWriterSites = {145, 148, 152, 157, 160, 179, {187, 189, 194}, 203};

// VssBackupComplete
const AsyncSites kComplete = {691, 693, 696};

int RefuseArgument() {
    quorlin::TraceRefusedArgument();
    return QUORLIN_RESULT_REFUSED;
}

// The first field changes of every start call, before its components object exists,
// and the kind of the set it is about to make (`agent` has a record: KeepRecordOf). The
// agent no longer holds a backup from here on; the components object of the one it held
// is let go of as the new one is made (CreateVssBackupComponents empties the field first,
// whether or not it can make the new object).
void BeginAttempt(const CQuorlin* agent, bool autoRelease, VSS_ID& snapshotSetId,
                  bool& snapshotCreated, bool& abortNeeded, int& backupInProgress) {
    snapshotSetId = GUID_NULL;
    snapshotCreated = false;
    abortNeeded = true;
    backupInProgress = 0;
    quorlin::SetRecord record;
    record.autoRelease = autoRelease;
    quorlin::SetSetRecord(agent, record);
}

// What DeleteSnapshots answered for a whole set: S_OK when none of its snapshots is
// left (a set that no longer exists included), else the failure.
HRESULT DeletionOutcome(HRESULT hr, const VSS_ID& nondeleted) {
    if (hr == S_OK)
        return nondeleted == GUID_NULL ? S_OK : E_FAIL;
    return hr == VSS_E_OBJECT_NOT_FOUND ? S_OK : hr;
}

// After a clean-up's deletion (S_OK or its failure): true when the host need not
// worry about the set. A failed deletion is reported; only an auto-release set on a
// platform whose snapshot service deletes it when the components object goes (VSS)
// gets a step line instead, and counts as gone.
bool SettleDeletion(HRESULT deletion, bool autoRelease) noexcept {
    if (deletion == S_OK)
        return true;
    const bool releaseDeletes = autoRelease && quorlin::GetHost().ReleaseDeletesAutoReleaseSets();
    quorlin::RunDroppingFailures([&] {
        const uint32_t code = static_cast<uint32_t>(deletion);
        if (releaseDeletes)
            TraceDetail(quorlin::FormatText(
                L"DeleteSnapshots failed 0x%x; the snapshot set goes when it is released.",
                {code}));
        else
            quorlin::TraceFailure(quorlin::FormatText(L"The snapshot set could not be deleted, "
                                                      L"error 0x%x: its snapshots remain.",
                                                      {code}),
                                  {quorlin::FailureKind::kDeletionFailed, code, 0, {}});
    });
    return releaseDeletes;
}

// A start call over a held backup writes the calling-sequence warning and goes on
// with a new backup, letting go of the held one. An auto-release set goes with its
// components object; a persistent one (made without writers), held or left after its
// deletion failed, would stay on the volume with nobody knowing its identity, so it is
// completed first, as VssBackupComplete does. OK to go on, or the completion's result
// when it failed: then nothing new is started and the agent is as the completion left it.
int EndHeldBackup(CQuorlin& agent, int backupInProgress, bool holdsComponents) {
    if (backupInProgress != 0)
        TraceDetail(quorlin::kWrongSequenceComplete);
    const quorlin::SetRecord record = quorlin::SetRecordOf(&agent);
    const bool persistentSetLeft =
        !record.autoRelease &&
        (backupInProgress != 0 || (holdsComponents && record.onlyDeletionLeft));
    return persistentSetLeft ? agent.VssBackupComplete() : QUORLIN_RESULT_OK;
}

// The writer workflows' first steps: a new components object, initialised, with
// the writers' metadata gathered. Returns the new object.
BackupComponents& CreateAndGather(ComPtr<BackupComponents>& components, const WriterSites& sites,
                                  DWORD waitLimit) {
    quorlin::CreateComponents(components, sites.create);
    BackupComponents& created = *components.Get();
    quorlin::InitializeForBackup(created, sites.initialize);
    quorlin::GatherWriterMetadata(created, sites.gather, waitLimit);
    return created;
}

// The writer workflows' steps once the volumes are in the set: the backup state,
// the writers prepared, the snapshot taken.
void PrepareAndSnapshot(BackupComponents& components, const WriterSites& sites, int backupType,
                        DWORD waitLimit, bool& snapshotCreated) {
    quorlin::SetBackupState(components, false, backupType, sites.backupState);
    quorlin::PrepareForBackup(components, sites.prepare, waitLimit);
    quorlin::DoSnapshotSet(components, sites.doSnapshot, waitLimit, snapshotCreated);
}

// The volume root of one path and the snapshot of that volume in the set.
struct SinglePathVolume {
    std::wstring fullPath;
    size_t room = 0;  // promised to its snapshot path
    std::vector<wchar_t> root = quorlin::NewVolumeRootBuffer();
    VSS_ID snapshotId = GUID_NULL;
};

void AddVolumeOf(BackupComponents& components, const wchar_t* sourcePath, int addSite,
                 SinglePathVolume& volume) {
    TraceDetail(L"Calling GetVolumePathName");
    const quorlin::VolumeLookups lookups;  // the volume of the path that the resolution just gave
    const wchar_t* root =
        quorlin::LookUpVolume(sourcePath, volume.fullPath, volume.room, volume.root);
    quorlin::AddToSnapshotSet(components, root, volume.snapshotId, addSite);
}

// The single-path calls' outputs: the length always, the text when there is a buffer.
void WriteSnapshotPath(BackupComponents& components, const SinglePathVolume& volume,
                       int propertiesSite, wchar_t* snapshotPath, int& snapshotPathLength) {
    quorlin::MarkPhase(quorlin::Phase::kSnapshotPaths);
    TraceDetail(L"Calling GetSnapshotProperties");
    const std::wstring path = quorlin::SnapshotPathOf(
        components, volume.snapshotId, volume.fullPath, volume.root.data(), propertiesSite);
    if (snapshotPath != nullptr)
        quorlin::CopySnapshotPath(path, volume.fullPath, volume.room, snapshotPath);
    snapshotPathLength = static_cast<int>(path.size());
}

// VssStartBackup2 refuses what it would otherwise dereference: a missing array, or a
// missing path or buffer within `pathCount`.
bool ArgumentsPresent(wchar_t** sourcePaths, wchar_t** snapshotPaths, int pathCount) {
    if (sourcePaths == nullptr || snapshotPaths == nullptr)
        return false;
    for (int i = 0; i < pathCount; ++i)
        if (sourcePaths[i] == nullptr || snapshotPaths[i] == nullptr)
            return false;
    return true;
}

}  // namespace

CQuorlin::~CQuorlin() {
    VssBackupComplete();
    quorlin::ForgetRecord(this);
}

HRESULT CQuorlin::Cleanup(bool abortBackup, bool deleteSnapshots,
                          ComPtr<BackupComponents> components, GUID snapshotSetId) {
    if (!components)
        return S_OK;
    m_backupInProgress = 0;
    // Whatever VSS answers (or raises), the clean-up goes on to its end.
    if (abortBackup)
        quorlin::RunDroppingFailures([&] { components->AbortBackup(); });
    HRESULT deletion = S_OK;
    if (deleteSnapshots) {
        deletion = E_UNEXPECTED;  // unless the call answers
        quorlin::RunDroppingFailures([&] {
            LONG deleted = 0;
            VSS_ID nondeleted = GUID_NULL;
            const HRESULT hr = components->DeleteSnapshots(snapshotSetId, VSS_OBJECT_SNAPSHOT_SET,
                                                           true, &deleted, &nondeleted);
            deletion = DeletionOutcome(hr, nondeleted);
        });
    }
    components.Reset();
    return deletion;
}

// The failure capture's clean-up. A set that remains is kept with its components object,
// so that completing the agent deletes it (and only that). A start call whose set is gone,
// or was never made, has aborted its backup: nothing is left to complete, and the object
// goes (Microsoft's requester rules: no BackupComplete after AbortBackup or a failed
// DoSnapshotSet). A failed completion keeps its object, as Ended.
void CQuorlin::CleanUpFailedCall(bool startCall) noexcept {
    quorlin::SetRecord record = quorlin::SetRecordOf(this);
    const bool gone = SettleDeletion(
        Cleanup(m_abortNeeded, m_snapshotCreated, m_backupComponents, m_snapshotSetId),
        record.autoRelease);
    if (!m_backupComponents)
        return;
    if (!gone) {
        record.onlyDeletionLeft = true;
        quorlin::SetSetRecord(this, record);
    } else if (startCall) {
        quorlin::RunDroppingFailures([this] { m_backupComponents.Reset(); });
    }
}

int CQuorlin::VssStartBackup(wchar_t* sourcePath, wchar_t* snapshotPath, int& snapshotPathLength) {
    auto cleanup = [this] { CleanUpFailedCall(true); };
    return quorlin::RunEntryPoint(cleanup, [&](EntryCapture& capture) -> int {
        if (quorlin::RefusedSinglePathStart(sourcePath))
            return QUORLIN_RESULT_REFUSED;
        const int ended =
            EndHeldBackup(*this, m_backupInProgress, static_cast<bool>(m_backupComponents));
        if (ended != QUORLIN_RESULT_OK)
            return ended;
        quorlin::CheckFilterRegistration();
        quorlin::SetSecurityAndPrivilege();
        quorlin::KeepRecordOf(this);

        capture.EnterProtectedRegion();
        const DWORD waitLimit = quorlin::WaitLimitOf(this);
        BeginAttempt(this, true, m_snapshotSetId, m_snapshotCreated, m_abortNeeded,
                     m_backupInProgress);
        m_withWriters = true;
        BackupComponents& components =
            CreateAndGather(m_backupComponents, kStartBackupSites, waitLimit);
        TraceDetail(L"Calling GetWriterMetadataCount");  // the metadata is not read
        quorlin::StartSnapshotSet(components, m_snapshotSetId, kStartBackupSites.snapshotSet);
        SinglePathVolume volume;
        AddVolumeOf(components, sourcePath, kStartBackupSites.add, volume);
        PrepareAndSnapshot(components, kStartBackupSites, m_backupType, waitLimit,
                           m_snapshotCreated);
        WriteSnapshotPath(components, volume, kStartBackupSites.properties, snapshotPath,
                          snapshotPathLength);
        m_backupInProgress = 1;
        m_abortNeeded = false;
        return QUORLIN_RESULT_OK;
    });
}

int CQuorlin::VssStartBackup2(wchar_t** sourcePaths, wchar_t** snapshotPaths, int pathCount) {
    auto cleanup = [this] { CleanUpFailedCall(true); };
    return quorlin::RunEntryPoint(cleanup, [&](EntryCapture& capture) -> int {
        if (!ArgumentsPresent(sourcePaths, snapshotPaths, pathCount))
            return RefuseArgument();
        const int ended =
            EndHeldBackup(*this, m_backupInProgress, static_cast<bool>(m_backupComponents));
        if (ended != QUORLIN_RESULT_OK)
            return ended;
        quorlin::CheckFilterRegistration();
        m_volumes.clear();
        quorlin::SetSecurityAndPrivilege();
        quorlin::KeepRecordOf(this);

        capture.EnterProtectedRegion();
        const DWORD waitLimit = quorlin::WaitLimitOf(this);
        BeginAttempt(this, true, m_snapshotSetId, m_snapshotCreated, m_abortNeeded,
                     m_backupInProgress);
        BackupComponents& components =
            CreateAndGather(m_backupComponents, kStartBackup2Sites, waitLimit);
        quorlin::StartSnapshotSet(components, m_snapshotSetId, kStartBackup2Sites.snapshotSet);

        TraceDetail(L"Calling GetVolumePathName");
        quorlin::PathPlaces places;
        quorlin::AddVolumesOf(components, sourcePaths,
                              static_cast<size_t>(pathCount > 0 ? pathCount : 0),
                              kStartBackup2Sites.add, m_volumes, places);
        PrepareAndSnapshot(components, kStartBackup2Sites, m_backupType, waitLimit,
                           m_snapshotCreated);
        quorlin::MarkPhase(quorlin::Phase::kSnapshotPaths);
        TraceDetail(L"Calling GetSnapshotProperties");
        quorlin::WriteSnapshotPaths(components, m_volumes, places, snapshotPaths,
                                    kStartBackup2Sites.properties);
        m_backupInProgress = 1;
        m_abortNeeded = false;
        return QUORLIN_RESULT_OK;
    });
}

int CQuorlin::VssStartBackupNoWriter(wchar_t* sourcePath, wchar_t* snapshotPath,
                                     int& snapshotPathLength) {
    auto cleanup = [this] { CleanUpFailedCall(true); };
    return quorlin::RunEntryPoint(cleanup, [&](EntryCapture& capture) -> int {
        if (quorlin::RefusedSinglePathStart(sourcePath))
            return QUORLIN_RESULT_REFUSED;
        if (m_backupInProgress != 0) {
            quorlin::TraceFailure(quorlin::kWrongSequenceComplete,
                                  {quorlin::FailureKind::kBackupHeld, 0, 0, {}},
                                  quorlin::TRACE_LEVEL_DETAIL);
            return QUORLIN_RESULT_WRONG_SEQUENCE;
        }
        const int ended =
            EndHeldBackup(*this, m_backupInProgress, static_cast<bool>(m_backupComponents));
        if (ended != QUORLIN_RESULT_OK)
            return ended;
        quorlin::CheckFilterRegistration();
        quorlin::SetSecurityAndPrivilege();
        quorlin::KeepRecordOf(this);

        capture.EnterProtectedRegion();
        const DWORD waitLimit = quorlin::WaitLimitOf(this);
        BeginAttempt(this, false, m_snapshotSetId, m_snapshotCreated, m_abortNeeded,
                     m_backupInProgress);
        m_withWriters = false;
        quorlin::CreateComponents(m_backupComponents, kNoWriterSites.create);
        BackupComponents& components = *m_backupComponents.Get();
        quorlin::InitializeForBackup(components, kNoWriterSites.initialize);
        quorlin::CheckResult(components.SetContext(VSS_CTX_NAS_ROLLBACK), kNoWriterSites.context);
        quorlin::SetBackupState(components, true, m_backupType, kNoWriterSites.backupState);
        quorlin::StartSnapshotSet(components, m_snapshotSetId, kNoWriterSites.snapshotSet);
        SinglePathVolume volume;
        AddVolumeOf(components, sourcePath, kNoWriterSites.add, volume);
        quorlin::DoSnapshotSet(components, kNoWriterSites.doSnapshot, waitLimit, m_snapshotCreated);
        WriteSnapshotPath(components, volume, kNoWriterSites.properties, snapshotPath,
                          snapshotPathLength);
        m_backupInProgress = 1;
        m_abortNeeded = false;
        return QUORLIN_RESULT_OK;
    });
}

int CQuorlin::VssBackupComplete() {
    auto cleanup = [this] { CleanUpFailedCall(false); };
    return quorlin::RunEntryPoint(cleanup, [&](EntryCapture& capture) -> int {
        if (quorlin::RefusedPlatform())
            return QUORLIN_RESULT_REFUSED;
        if (m_backupInProgress != 1)
            TraceDetail(quorlin::kWrongSequenceStart);
        if (!m_backupComponents) {
            quorlin::TraceFailure(L"Invalid data.",
                                  {quorlin::FailureKind::kNothingToComplete, 0, 0, {}},
                                  quorlin::TRACE_LEVEL_DETAIL);
            return QUORLIN_RESULT_REFUSED;
        }

        // A backup that has ended already (its start call failed, or it was completed) is
        // not completed again: only its set is left to delete.
        quorlin::SetRecord record = quorlin::SetRecordOf(this);
        if (!record.onlyDeletionLeft) {
            capture.EnterProtectedRegion();
            m_backupInProgress = 0;
            quorlin::BackupComplete(*m_backupComponents.Get(), kComplete,
                                    quorlin::WaitLimitOf(this));
            capture.LeaveProtectedRegion();
        }

        // Snapshots that remain make the completion fail: the agent keeps the components
        // object and the set's identity, so that completing once more, or the destructor,
        // tries the deletion again.
        const HRESULT deletion =
            Cleanup(false, m_snapshotCreated, m_backupComponents, m_snapshotSetId);
        record.onlyDeletionLeft = !SettleDeletion(deletion, record.autoRelease);
        quorlin::SetSetRecord(this, record);
        if (record.onlyDeletionLeft)
            return QUORLIN_RESULT_FAILED;
        // The backup is complete (or, after a failed start, its set is gone): losing its
        // success line does not change that.
        m_backupComponents.Reset();
        const wchar_t* line = m_abortNeeded ? L"The snapshot set of the failed backup was deleted."
                                            : L"Backup successfully completed.";
        quorlin::RunDroppingFailures([line] { quorlin::Trace(line, quorlin::TRACE_LEVEL_RESULT); });
        return QUORLIN_RESULT_OK;
    });
}
