// What the service records beside each snapshot, and how it tells whether the owner of a
// snapshot still lives.
//
// Each snapshot lies in a folder of its own in the store, named by its identity, beside its
// record: an empty file whose name says what the snapshot is. The folder and the record are
// made before the snapshot, so they are committed in the snapshot's transaction or an
// earlier one: no snapshot exists without its record, even after a crash, and no file data
// has to be flushed. The owner holds a lock (flock) on the folder from before the record
// has a name until the snapshot is gone or the owner is: the kernel drops the lock when the
// last descriptor of it closes, however the owner ends, in whatever pid or time namespace
// it runs. Whoever can take the lock knows that the owner is gone. (Earlier versions kept
// the snapshot and its record in the store itself and locked the record; such a record
// still counts as owned while its lock is held.)
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_SNAPSHOT_RECORD_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_SNAPSHOT_RECORD_H

#include "QuorlinTypes.h"
#include "base/posix/UniqueFd.h"

#include <string>

namespace quorlin {

struct SnapshotRecord {
    VSS_ID snapshotId = GUID_NULL;
    LONG context = VSS_CTX_BACKUP;
    VSS_ID setId = GUID_NULL;
    // The owner's process id as the owner saw it (in its own pid namespace): for people
    // to read; whether the owner lives is the lock's to tell.
    long ownerPid = 0;
};

// Whether snapshots of `context` go when their owner does (else they persist).
bool IsAutoRelease(LONG context);

// "<snapshot id>.record.<context>.<set id>.<owner pid>"
std::string RecordFileName(const SnapshotRecord& record);
// The inverse of RecordFileName; false for any other name (other spellings of the same
// record too).
bool ParseRecordFileName(const std::string& name, SnapshotRecord& record);

// The locks that a sweeper holds on an abandoned record, so that no other acts on it.
struct RecordClaim {
    UniqueFd record;  // the record's own lock (what earlier versions held)
    UniqueFd folder;  // the lock of the snapshot's own folder
};

// Takes the locks of the record `name` (null: a snapshot whose record is gone) in
// `folderFd` when its owner is gone, and keeps them in `claim`; `abandoned` tells whether it
// did. The folder's own lock counts unless the folder is the root of a subvolume (a store,
// where earlier versions kept snapshots side by side). Returns 0, or the errno value of a
// failed call (ENOENT: no such record).
int ClaimAbandonedRecord(int folderFd, const char* name, RecordClaim& claim, bool& abandoned);

}  // namespace quorlin

#endif
