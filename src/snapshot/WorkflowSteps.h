// The VSS steps that the workflows share. Each announces itself with its step
// line where the workflows have one, makes its call, and raises a CComException
// at the caller's site number when the call returns anything but S_OK.
#ifndef QUORLIN_SNAPSHOT_WORKFLOW_STEPS_H
#define QUORLIN_SNAPSHOT_WORKFLOW_STEPS_H

#include "platform/Requester.h"

#include <string>
#include <vector>

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

// Each operation is waited for within `limit` milliseconds (0: no limit, see
// LimitedWait.h); one that runs past it is cancelled and fails at its wait's site with
// kWaitTimedOut.
//
// "Calling GatherWriterMetadata", waited for; a cancelled gathering raises
// "GatherWriterMetadata was cancelled.", any other status goes on.
void GatherWriterMetadata(BackupComponents& components, const AsyncSites& sites, DWORD limit);
// "Calling PrepareForBackup"; anything but finished raises "Prepare for backup failed.".
void PrepareForBackup(BackupComponents& components, const AsyncSites& sites, DWORD limit);
// "Calling DoSnapshotSet"; `snapshotStarted` becomes true as soon as the operation has
// started (from then on snapshots of the set may exist, whatever the wait gives);
// anything but finished then raises "DoSnapshotSet failed.".
void DoSnapshotSet(BackupComponents& components, const AsyncSites& sites, DWORD limit,
                   bool& snapshotStarted);
// "Calling BackupComplete"; anything but finished raises "Completion of backup failed.".
void BackupComplete(BackupComponents& components, const AsyncSites& sites, DWORD limit);

// Room for one volume root: PlatformVolumeRootRoom() units, made once per call.
std::vector<wchar_t> NewVolumeRootBuffer();

// The absolute form of `path` into `fullPath`, the room that Quorlin.h promises for its
// snapshot path into `room` (PlatformSnapshotPathRoom), and the root of the volume that
// holds it into `rootBuffer` (from NewVolumeRootBuffer), which is returned. A failure
// raises "There was an error retrieving the volume name from the path. Path: %s Error: %s"
// naming `path` as given.
const wchar_t* LookUpVolume(const wchar_t* path, std::wstring& fullPath, size_t& room,
                            std::vector<wchar_t>& rootBuffer);

// The path of `fullPath` inside the snapshot `snapshotId` of the volume at
// `volumeRoot` (GetSnapshotProperties at `site`, then "Calling CalculateSourcePath").
// A snapshot without a device name fails at `site` too: the path would be relative.
std::wstring SnapshotPathOf(BackupComponents& components, const VSS_ID& snapshotId,
                            const std::wstring& fullPath, const wchar_t* volumeRoot, int site);

// Takes, while it lives, the snapshot paths that the start calls on its thread would
// copy into the host's buffers, in their order, and those buffers are left as they are:
// a host of the library's own (the C interface) keeps each path in memory of its own
// size, and passes buffers that are never written. Receivers nest: the newest takes.
class SnapshotPathReceiver {
public:
    SnapshotPathReceiver() noexcept;
    ~SnapshotPathReceiver();
    SnapshotPathReceiver(const SnapshotPathReceiver&) = delete;
    SnapshotPathReceiver& operator=(const SnapshotPathReceiver&) = delete;

    std::vector<std::wstring> paths;

private:
    SnapshotPathReceiver* previous_;
};

// Copies `snapshotPath` with its terminator into the host's `buffer` (or hands it to the
// thread's receiver), after checking it against the `room` that Quorlin.h promises for
// the path (LookUpVolume); a longer path raises a failure naming `fullPath` instead of
// writing past a buffer sized as documented.
void CopySnapshotPath(const std::wstring& snapshotPath, const std::wstring& fullPath, size_t room,
                      wchar_t* buffer);

}  // namespace quorlin

#endif  // QUORLIN_SNAPSHOT_WORKFLOW_STEPS_H
