// What the service records beside each snapshot, and how it tells whether the owner of a
// snapshot still lives.
//
// The record is an empty file next to the snapshot; its name says what the snapshot is. A
// directory entry is committed in the same btrfs transaction as the snapshot made after
// it, so no snapshot exists without its record, even after a crash, and no file data has
// to be flushed. The owner holds a lock (flock) on its record from before the record has
// a name until the snapshot is gone or the owner is: the kernel drops the lock when the
// last descriptor of it closes, however the owner ends, in whatever pid or time namespace
// it runs. Whoever can take the lock knows that the owner is gone.
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_SNAPSHOT_RECORD_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_SNAPSHOT_RECORD_H

#include "QuorlinTypes.h"
#include "platform/posix/UniqueFd.h"

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

// Takes the lock of the record `name` in `folderFd` when its owner is gone, and keeps it in
// `claim` (so that no other sweeper acts on the record meanwhile); `abandoned` tells whether
// it did. Returns 0, or the errno value of a failed call (ENOENT: no such record).
int ClaimAbandonedRecord(int folderFd, const std::string& name, UniqueFd& claim, bool& abandoned);

}  // namespace quorlin

#endif
