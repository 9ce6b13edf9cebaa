// Quorlin: read live volumes as they were at one instant.
//
// A host constructs a CQuorlin, may call VssSetting, calls one start function,
// reads its files through the snapshot paths it gets back, and then calls
// VssBackupComplete (or destroys the agent, which completes the backup itself).
// COM must be initialised on the calling thread before a start call on Windows.
#ifndef QUORLIN_H
#define QUORLIN_H

#include "QuorlinTypes.h"
#include "QuorlinComPtr.h"

#include <vector>

// Results of VssStartBackup, VssStartBackup2, VssStartBackupNoWriter and VssBackupComplete.
enum {
    QUORLIN_RESULT_OK = 0,      // the operation succeeded
    QUORLIN_RESULT_FAILED = 1,  // failed; the backup was cleaned up and a report line traced
    QUORLIN_RESULT_WRONG_SEQUENCE = 99,  // refused: a backup is in progress; nothing changed
    QUORLIN_RESULT_REFUSED = 100         // refused before any snapshot work; nothing changed
};

// Settings for VssSetting(const _Quorlin_Setting&). A member of zero leaves its target unchanged.
struct _Quorlin_Setting {
    int backupType;       // 2 = incremental, anything else = full (this agent)
    int traceLevel;       // module-wide trace verbosity: 2 outcome lines, 4 every step
    HANDLE traceConsole;  // module-wide console or file handle for trace lines; stays the host's
};

// One volume of a multi-path snapshot.
struct _Snapshot_Volume {
    wchar_t volumePath[MAX_PATH];  // volume mount path, null-terminated
    VSS_ID snapshotId;             // that volume's snapshot in the set
};

namespace quorlin {
class BackupComponents;
}

class QUORLIN_API CQuorlin {
public:
    CQuorlin();
    CQuorlin(const CQuorlin& other);  // shares the backup of `other`
    CQuorlin& operator=(const CQuorlin& other);
    virtual ~CQuorlin();  // completes a held backup; never throws

    // Snapshots the volume of `sourcePath` with the writers involved. The path is first
    // made absolute (relative paths, and on Linux symbolic links, resolved); the snapshot
    // path names the file that this absolute path names.
    // `snapshotPath` may be null. Otherwise it must hold the whole snapshot path and its
    // terminator: the copy is NOT bounded. The snapshot path is the snapshot device name,
    // one separator and the rest of the absolute path below its volume root. On Windows a
    // VSS device name (\\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyNNN) is under 64
    // units, so allow the length of the absolute path + 64 units (for an absolute
    // `sourcePath`, wcslen(sourcePath) + 64). On Linux the device name and the resolved
    // path are each shorter than PATH_MAX, so 8192 units are always enough.
    // `snapshotPathLength` receives the length without the terminator on success only.
    int VssStartBackup(wchar_t* sourcePath, wchar_t* snapshotPath, int& snapshotPathLength);

    // Snapshots the volumes of `pathCount` paths in one set. Every `snapshotPaths[i]` must be
    // a writable buffer with room for the snapshot path of `sourcePaths[i]` and its terminator;
    // the copy is NOT bounded, so size each as for VssStartBackup's `snapshotPath`. Missing
    // arrays, or a null path or buffer among the first `pathCount`, are refused.
    int VssStartBackup2(wchar_t** sourcePaths, wchar_t** snapshotPaths, int pathCount);

    // Snapshots the volume of `sourcePath` without writers, in a persistent context.
    // Returns QUORLIN_RESULT_WRONG_SEQUENCE while a backup is held. Buffer rules as for
    // VssStartBackup: `snapshotPath` is copied without a bound.
    int VssStartBackupNoWriter(wchar_t* sourcePath, wchar_t* snapshotPath, int& snapshotPathLength);

    // Ends the held backup and deletes its snapshot set.
    int VssBackupComplete();

    // id 0: backup type; id 1: trace verbosity; other ids: nothing.
    void VssSetting(int id, int value);
    void VssSetting(const _Quorlin_Setting& setting);

protected:
    VSS_ID m_snapshotSetId;
    bool m_snapshotCreated;
    bool m_abortNeeded;
    bool m_withWriters;
    int m_backupType;
    int m_reservedOption;
    int m_backupInProgress;
    quorlin::ComPtr<quorlin::BackupComponents> m_backupComponents;
    std::vector<_Snapshot_Volume> m_volumes;

private:
    void CopyVolumes(const CQuorlin& other) noexcept;
    void Cleanup(bool abortBackup, bool deleteSnapshots,
                 quorlin::ComPtr<quorlin::BackupComponents> components, GUID snapshotSetId);
};

#endif  // QUORLIN_H
