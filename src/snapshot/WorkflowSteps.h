// The VSS steps that the workflows share. Each announces itself with its step
// line where the workflows have one, makes its call, and raises a CComException
// at the caller's site number when the call returns anything but S_OK.
#ifndef QUORLIN_SNAPSHOT_WORKFLOW_STEPS_H
#define QUORLIN_SNAPSHOT_WORKFLOW_STEPS_H

#include "snapshot/Requester.h"

#include <string>

namespace quorlin {

// Raises a COM failure at `site` unless `hr` is S_OK.
void CheckResult(HRESULT hr, int site);

// "Calling CreateVssBackupComponents": a new components object into `components`.
void CreateComponents(ComPtr<BackupComponents>& components, int site);
// "Calling InitializeForBackup", with no XML document.
void InitializeForBackup(BackupComponents& components, int site);
// "Calling StartSnapshotSet": the new set's identity into `snapshotSetId`.
void StartSnapshotSet(BackupComponents& components, VSS_ID& snapshotSetId, int site);
// "Calling SetBackupState": incremental when `backupType` is 2, else full.
void SetBackupState(BackupComponents& components, bool bootableSystemState, int backupType,
                    int site);
// "Calling AddToSnapshotSet": the volume with the provider VSS chooses.
void AddToSnapshotSet(BackupComponents& components, const wchar_t* volumePath, VSS_ID& snapshotId,
                      int site);

// Site numbers of an asynchronous operation: its call, its Wait, its QueryStatus.
struct AsyncSites {
    int call;
    int wait;
    int status;
};

// "Calling GatherWriterMetadata", waited for; a cancelled gathering raises
// "GatherWriterMetadata was cancelled.", any other status goes on.
void GatherWriterMetadata(BackupComponents& components, const AsyncSites& sites);
// "Calling PrepareForBackup"; anything but finished raises "Prepare for backup failed.".
void PrepareForBackup(BackupComponents& components, const AsyncSites& sites);
// "Calling DoSnapshotSet"; `snapshotCreated` becomes true as soon as the wait has
// succeeded; anything but finished then raises "DoSnapshotSet failed.".
void DoSnapshotSet(BackupComponents& components, const AsyncSites& sites, bool& snapshotCreated);
// "Calling BackupComplete"; anything but finished raises "Completion of backup failed.".
void BackupComplete(BackupComponents& components, const AsyncSites& sites);

// The absolute form of `path` and the root of the volume that holds it (into a
// buffer of MAX_PATH units). A failure raises "There was an error retrieving the
// volume name from the path. Path: %s Error: %s" naming `path` as given.
void LookUpVolume(const wchar_t* path, std::wstring& fullPath, wchar_t* volumeRoot);

// The path of `fullPath` inside the snapshot `snapshotId` of the volume at
// `volumeRoot` (GetSnapshotProperties at `site`, then "Calling CalculateSourcePath").
std::wstring SnapshotPathOf(BackupComponents& components, const VSS_ID& snapshotId,
                            const std::wstring& fullPath, const wchar_t* volumeRoot, int site);

}  // namespace quorlin

#endif  // QUORLIN_SNAPSHOT_WORKFLOW_STEPS_H
