// The snapshot workflows behind the start and completion calls, the clean-up of
// a backup, and the destructor's completion.
//
// Each entry point runs its preparation steps, then its protected region through
// the failure capture (snapshot/FailureCapture.h): a failure there aborts the
// backup, deletes the snapshot set once it exists, writes one report line and
// becomes result 1. The numbers below are the fixed site numbers that the
// COM-failure report line shows for each call.
#include "Quorlin.h"

#include "diag/Exceptions.h"
#include "diag/Trace.h"
#include "snapshot/FailureCapture.h"
#include "snapshot/HostPreparation.h"
#include "snapshot/MultiPathVolumes.h"
#include "snapshot/WorkflowSteps.h"

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

int Refuse(const wchar_t* stepLine) {
    TraceDetail(stepLine);
    return QUORLIN_RESULT_REFUSED;
}

// The first field changes of every start call, before its components object exists.
void BeginAttempt(VSS_ID& snapshotSetId, bool& snapshotCreated, bool& abortNeeded) {
    snapshotSetId = GUID_NULL;
    snapshotCreated = false;
    abortNeeded = true;
}

// The writer workflows' first steps: a new components object, initialised, with
// the writers' metadata gathered. Returns the new object.
BackupComponents& CreateAndGather(ComPtr<BackupComponents>& components, const WriterSites& sites) {
    quorlin::CreateComponents(components, sites.create);
    BackupComponents& created = *components.Get();
    quorlin::InitializeForBackup(created, sites.initialize);
    quorlin::GatherWriterMetadata(created, sites.gather);
    return created;
}

// The writer workflows' steps once the volumes are in the set: the backup state,
// the writers prepared, the snapshot taken.
void PrepareAndSnapshot(BackupComponents& components, const WriterSites& sites, int backupType,
                        bool& snapshotCreated) {
    quorlin::SetBackupState(components, false, backupType, sites.backupState);
    quorlin::PrepareForBackup(components, sites.prepare);
    quorlin::DoSnapshotSet(components, sites.doSnapshot, snapshotCreated);
}

// The volume root of one path and the snapshot of that volume in the set.
struct SinglePathVolume {
    std::wstring fullPath;
    wchar_t root[MAX_PATH] = {};
    VSS_ID snapshotId = GUID_NULL;
};

void AddVolumeOf(BackupComponents& components, const wchar_t* sourcePath, int addSite,
                 SinglePathVolume& volume) {
    TraceDetail(L"Calling GetVolumePathName");
    quorlin::LookUpVolume(sourcePath, volume.fullPath, volume.root);
    quorlin::AddToSnapshotSet(components, volume.root, volume.snapshotId, addSite);
}

// The single-path calls' outputs: the length always, the text when there is a buffer.
void WriteSnapshotPath(BackupComponents& components, const SinglePathVolume& volume,
                       int propertiesSite, wchar_t* snapshotPath, int& snapshotPathLength) {
    TraceDetail(L"Calling GetSnapshotProperties");
    const std::wstring path = quorlin::SnapshotPathOf(components, volume.snapshotId,
                                                      volume.fullPath, volume.root, propertiesSite);
    snapshotPathLength = static_cast<int>(path.size());
    if (snapshotPath != nullptr)
        std::wmemcpy(snapshotPath, path.c_str(), path.size() + 1);
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

CQuorlin::~CQuorlin() { VssBackupComplete(); }

void CQuorlin::Cleanup(bool abortBackup, bool deleteSnapshots, ComPtr<BackupComponents> components,
                       GUID snapshotSetId) {
    if (!components)
        return;
    m_backupInProgress = 0;
    // Whatever VSS answers (or raises), the clean-up goes on to its end.
    if (abortBackup)
        quorlin::RunDroppingFailures([&] { components->AbortBackup(); });
    if (deleteSnapshots) {
        quorlin::RunDroppingFailures([&] {
            LONG deleted = 0;
            VSS_ID nondeleted = GUID_NULL;
            components->DeleteSnapshots(snapshotSetId, VSS_OBJECT_SNAPSHOT_SET, true, &deleted,
                                        &nondeleted);
        });
    }
    components.Reset();
}

int CQuorlin::VssStartBackup(wchar_t* sourcePath, wchar_t* snapshotPath, int& snapshotPathLength) {
    auto cleanup = [this] {
        Cleanup(m_abortNeeded, m_snapshotCreated, m_backupComponents, m_snapshotSetId);
    };
    return quorlin::RunEntryPoint(cleanup, [&](EntryCapture& capture) -> int {
        if (quorlin::RefusedSinglePathStart(sourcePath))
            return QUORLIN_RESULT_REFUSED;
        if (m_backupInProgress != 0)
            TraceDetail(quorlin::kWrongSequenceComplete);
        quorlin::CheckFilterRegistration();
        quorlin::SetSecurityAndPrivilege();

        capture.EnterProtectedRegion();
        BeginAttempt(m_snapshotSetId, m_snapshotCreated, m_abortNeeded);
        m_withWriters = true;
        BackupComponents& components = CreateAndGather(m_backupComponents, kStartBackupSites);
        TraceDetail(L"Calling GetWriterMetadataCount");  // the metadata is not read
        quorlin::StartSnapshotSet(components, m_snapshotSetId, kStartBackupSites.snapshotSet);
        SinglePathVolume volume;
        AddVolumeOf(components, sourcePath, kStartBackupSites.add, volume);
        PrepareAndSnapshot(components, kStartBackupSites, m_backupType, m_snapshotCreated);
        WriteSnapshotPath(components, volume, kStartBackupSites.properties, snapshotPath,
                          snapshotPathLength);
        m_backupInProgress = 1;
        m_abortNeeded = false;
        return QUORLIN_RESULT_OK;
    });
}

int CQuorlin::VssStartBackup2(wchar_t** sourcePaths, wchar_t** snapshotPaths, int pathCount) {
    auto cleanup = [this] {
        Cleanup(m_abortNeeded, m_snapshotCreated, m_backupComponents, m_snapshotSetId);
    };
    return quorlin::RunEntryPoint(cleanup, [&](EntryCapture& capture) -> int {
        if (!ArgumentsPresent(sourcePaths, snapshotPaths, pathCount))
            return Refuse(quorlin::kInvalidParameter);
        if (m_backupInProgress != 0)
            TraceDetail(quorlin::kWrongSequenceComplete);
        quorlin::CheckFilterRegistration();
        m_volumes.clear();
        quorlin::SetSecurityAndPrivilege();

        capture.EnterProtectedRegion();
        BeginAttempt(m_snapshotSetId, m_snapshotCreated, m_abortNeeded);
        BackupComponents& components = CreateAndGather(m_backupComponents, kStartBackup2Sites);
        quorlin::StartSnapshotSet(components, m_snapshotSetId, kStartBackup2Sites.snapshotSet);

        TraceDetail(L"Calling GetVolumePathName");
        std::vector<std::wstring> fullPaths;
        quorlin::AddVolumesOf(components, sourcePaths,
                              static_cast<size_t>(pathCount > 0 ? pathCount : 0),
                              kStartBackup2Sites.add, m_volumes, fullPaths);
        PrepareAndSnapshot(components, kStartBackup2Sites, m_backupType, m_snapshotCreated);
        TraceDetail(L"Calling GetSnapshotProperties");
        quorlin::WriteSnapshotPaths(components, m_volumes, fullPaths, snapshotPaths,
                                    kStartBackup2Sites.properties);
        m_backupInProgress = 1;
        m_abortNeeded = false;
        return QUORLIN_RESULT_OK;
    });
}

int CQuorlin::VssStartBackupNoWriter(wchar_t* sourcePath, wchar_t* snapshotPath,
                                     int& snapshotPathLength) {
    auto cleanup = [this] {
        Cleanup(m_abortNeeded, m_snapshotCreated, m_backupComponents, m_snapshotSetId);
    };
    return quorlin::RunEntryPoint(cleanup, [&](EntryCapture& capture) -> int {
        if (quorlin::RefusedSinglePathStart(sourcePath))
            return QUORLIN_RESULT_REFUSED;
        if (m_backupInProgress != 0) {
            TraceDetail(quorlin::kWrongSequenceComplete);
            return QUORLIN_RESULT_WRONG_SEQUENCE;
        }
        quorlin::CheckFilterRegistration();
        quorlin::SetSecurityAndPrivilege();

        capture.EnterProtectedRegion();
        BeginAttempt(m_snapshotSetId, m_snapshotCreated, m_abortNeeded);
        m_withWriters = false;
        quorlin::CreateComponents(m_backupComponents, kNoWriterSites.create);
        BackupComponents& components = *m_backupComponents.Get();
        quorlin::InitializeForBackup(components, kNoWriterSites.initialize);
        quorlin::CheckResult(components.SetContext(VSS_CTX_NAS_ROLLBACK), kNoWriterSites.context);
        quorlin::SetBackupState(components, true, m_backupType, kNoWriterSites.backupState);
        quorlin::StartSnapshotSet(components, m_snapshotSetId, kNoWriterSites.snapshotSet);
        SinglePathVolume volume;
        AddVolumeOf(components, sourcePath, kNoWriterSites.add, volume);
        quorlin::DoSnapshotSet(components, kNoWriterSites.doSnapshot, m_snapshotCreated);
        WriteSnapshotPath(components, volume, kNoWriterSites.properties, snapshotPath,
                          snapshotPathLength);
        m_backupInProgress = 1;
        m_abortNeeded = false;
        return QUORLIN_RESULT_OK;
    });
}

int CQuorlin::VssBackupComplete() {
    auto cleanup = [this] {
        Cleanup(m_abortNeeded, m_snapshotCreated, m_backupComponents, m_snapshotSetId);
    };
    return quorlin::RunEntryPoint(cleanup, [&](EntryCapture& capture) -> int {
        if (quorlin::RefusedPlatform())
            return QUORLIN_RESULT_REFUSED;
        if (m_backupInProgress != 1)
            TraceDetail(quorlin::kWrongSequenceStart);
        if (!m_backupComponents)
            return Refuse(L"Invalid data.");

        capture.EnterProtectedRegion();
        m_backupInProgress = 0;
        quorlin::BackupComplete(*m_backupComponents.Get(), kComplete);
        capture.LeaveProtectedRegion();

        Cleanup(false, m_snapshotCreated, m_backupComponents, m_snapshotSetId);
        // The agent lets go of the components object even if the line below cannot
        // be written; the reference itself goes when this returns.
        const ComPtr<BackupComponents> completed = std::move(m_backupComponents);
        quorlin::Trace(L"Backup successfully completed.", quorlin::TRACE_LEVEL_RESULT);
        return QUORLIN_RESULT_OK;
    });
}
