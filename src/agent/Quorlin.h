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
                                // (at completion also: snapshots remain, see VssBackupComplete)
    QUORLIN_RESULT_WRONG_SEQUENCE = 99,  // refused: a backup is in progress; nothing changed
    QUORLIN_RESULT_REFUSED = 100         // refused before any snapshot work; nothing changed
};

// How many volumes one snapshot set holds at most: VSS's own limit on Windows, the btrfs
// snapshot service's on Linux (what a set costs there grows with its volumes: README).
enum { QUORLIN_MAXIMUM_VOLUMES_WINDOWS = 64, QUORLIN_MAXIMUM_VOLUMES_LINUX = 4096 };

// Setting ids of VssSetting(int id, int value).
enum {
    QUORLIN_SETTING_BACKUP_TYPE = 0,  // 2 = incremental, anything else = full (this agent)
    // Module-wide trace verbosity: 2 outcome lines, 4 every step as well; 5 also the snapshot
    // service's own report lines (on Linux: a writer that failed or was refused, and why),
    // 6 also its steps (each command to a writer and its answer, what a writer wrote to its
    // standard error, the system call that failed). At 2 and 4 the lines are the
    // workflows' alone.
    QUORLIN_SETTING_TRACE_LEVEL = 1,
    // This agent's time limit in milliseconds for each asynchronous step (writer metadata,
    // preparing the writers, taking the snapshot, completing the backup); 0 or less: none,
    // the default, and each step is waited for however long it takes. A step that runs past
    // its limit is cancelled and fails the call at that step's wait like any other failure
    // there (result 1, the backup aborted, its snapshots deleted) with the report line
    // "There was a COM failure 0x800705b4 - .\QuorlinClass (<site>)": 0x800705b4 is
    // HRESULT_FROM_WIN32(ERROR_TIMEOUT), since VSS gives a cancelled operation no failure
    // code of its own and 0x800423f2 already means a writer missed VSS's own bound. A
    // completion (VssBackupComplete, the destructor) that runs past it still deletes the
    // snapshots. Older agents ignore this id.
    QUORLIN_SETTING_WAIT_LIMIT = 2
};

// Settings for VssSetting(const _Quorlin_Setting&). A member of zero leaves its target unchanged.
struct _Quorlin_Setting {
    int backupType;       // 2 = incremental, anything else = full (this agent)
    int traceLevel;       // module-wide trace verbosity (QUORLIN_SETTING_TRACE_LEVEL)
    HANDLE traceConsole;  // module-wide console or file handle for trace lines; stays the host's
};

// One volume of a multi-path snapshot. On Linux a volume root may be longer than
// MAX_PATH - 1 units; the workflows keep such a root themselves and leave volumePath
// empty (the record keeps its size on every platform).
struct _Snapshot_Volume {
    wchar_t volumePath[MAX_PATH];  // volume mount path, null-terminated; see above
    VSS_ID snapshotId;             // that volume's snapshot in the set
};

// What the held snapshot set is (VssSetInstant): the instants it holds. VSS takes its whole
// set at one instant. The btrfs service takes the snapshots that lie on one file system in
// one transaction (one instant), checks it and takes a set that came out split again;
// across file systems there is no common instant, and the set's window tells how far apart
// they lie.
struct _Quorlin_Set_Instant {
    int fileSystems;            // the file systems of the set's snapshots (Windows: its volumes)
    int oneTransaction;         // of them, how many hold all their snapshots from one instant
    int wholeSet;               // 1 when the whole set is one instant, else 0
    int tries;                  // how often the service took the set (1: the first came out whole)
    double windowMilliseconds;  // from the first snapshot's start to the last one's end
                                // (Linux; 0 on Windows, where VSS keeps it to itself)
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

    // Snapshots the volume of `sourcePath` with the writers involved (VSS's on Windows;
    // on Linux the programs of the writers folder, README "Writers on Linux"). On Windows
    // the writers' metadata is gathered and they are prepared in component mode, but no
    // component is selected, so VSS leaves every writer out: the snapshot is
    // crash-consistent (the volume as after a power cut), and no writer flushes or holds
    // its data for it (README "Writers on Windows"). A writer
    // that fails fails the call with a report line whose code is a VSS writer error
    // (0x800423f2 no answer in time, 0x800423f3 retryable, 0x800423f4 otherwise). The path is first
    // made absolute and resolved (relative paths, symbolic links and junctions); the
    // snapshot path names the file that this resolved path names.
    // `snapshotPath` may be null. Otherwise it must hold the whole snapshot path and its
    // terminator: no size is passed. The snapshot path is the snapshot device name, one
    // separator and the rest of the resolved path below its volume root. On Windows a
    // VSS device name (\\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyNNN) is under 64
    // units, so allow the length of the absolute path + 64 units when no link lies on the
    // way (for an absolute `sourcePath`, wcslen(sourcePath) + 64), and the length of the
    // final path + 64 through a link; 32767 + 64 units are always enough. On Linux the
    // device name and the resolved path are each shorter than PATH_MAX, so 8192 units are
    // always enough. A snapshot path longer than that room is never written: the call
    // fails (result 1, report line, snapshot deleted); so it does when resolving a path
    // without links lengthens it beyond the room (Windows expands short 8.3 names).
    // `snapshotPathLength` receives the length without the terminator on success only.
    // Over a held backup the call goes on with a new one (see the calling-sequence
    // warning); a set of VssStartBackupNoWriter, held or left after its deletion failed
    // (see VssBackupComplete), is first completed and deleted as VssBackupComplete does,
    // and if that fails its result is returned and nothing new is started.
    int VssStartBackup(wchar_t* sourcePath, wchar_t* snapshotPath, int& snapshotPathLength);

    // Snapshots the volumes of `pathCount` paths in one set. Every `snapshotPaths[i]` must be
    // a writable buffer with room for the snapshot path of `sourcePaths[i]` and its terminator;
    // no size is passed, so size each as for VssStartBackup's `snapshotPath` (the same
    // bound is enforced). Missing arrays, or a null path or buffer among the first
    // `pathCount`, are refused. A held backup is handled as by VssStartBackup.
    int VssStartBackup2(wchar_t** sourcePaths, wchar_t** snapshotPaths, int pathCount);

    // Snapshots the volume of `sourcePath` without writers, in a persistent context.
    // Returns QUORLIN_RESULT_WRONG_SEQUENCE while a backup is held. An earlier set of this
    // call whose deletion failed is first deleted, as by VssStartBackup. Buffer rules as
    // for VssStartBackup.
    int VssStartBackupNoWriter(wchar_t* sourcePath, wchar_t* snapshotPath, int& snapshotPathLength);

    // Ends the held backup and deletes its snapshot set. Returns QUORLIN_RESULT_OK when
    // the backup is complete and its snapshots are gone, even if its success line could
    // not be written. When snapshots remain (DeleteSnapshots failed), it returns
    // QUORLIN_RESULT_FAILED after the report line "The snapshot set could not be
    // deleted, error 0x...: its snapshots remain."; the agent keeps the set's identity,
    // so a later VssBackupComplete (or the destructor) tries the deletion again, and only
    // that (the backup is not completed twice): 0 once the snapshots are gone. Only on
    // Windows, for a set of VssStartBackup or VssStartBackup2 (which VSS deletes when
    // its last reference goes), a failed deletion is a step line and the result 0.
    // A start call that failed has aborted its backup, which is never completed: with its
    // set gone (or never made) nothing is left, and this call returns
    // QUORLIN_RESULT_REFUSED ("Invalid data.") as the destructor makes no call; a set of
    // it that could not be deleted is deleted here, with the line "The snapshot set of
    // the failed backup was deleted." and the result 0 once it is gone.
    int VssBackupComplete();

    // What the held snapshot set is. QUORLIN_RESULT_OK while a backup is held (after a
    // successful start call, until its completion), else QUORLIN_RESULT_REFUSED with
    // `instant` unchanged; QUORLIN_RESULT_FAILED when the snapshot service cannot tell.
    // Writes no trace line.
    int VssSetInstant(_Quorlin_Set_Instant& instant);

    // id 0: backup type; id 1: trace verbosity; id 2: time limit of each asynchronous step
    // (QUORLIN_SETTING_*); other ids: nothing.
    void VssSetting(int id, int value);
    void VssSetting(const _Quorlin_Setting& setting);

    // True while a backup is held: from a successful start call until its completion.
    bool BackupHeld() const noexcept;
    // The identity of the snapshot set of the current or last start call; GUID_NULL before
    // the first. Stays after completion, until the next start call.
    VSS_ID SnapshotSetId() const noexcept;

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
    // S_OK, or the failure of a deletion that left snapshots.
    HRESULT Cleanup(bool abortBackup, bool deleteSnapshots,
                    quorlin::ComPtr<quorlin::BackupComponents> components, GUID snapshotSetId);
    // The clean-up after a failure of a start call (`startCall`) or of VssBackupComplete.
    void CleanUpFailedCall(bool startCall) noexcept;
};

#endif  // QUORLIN_H
