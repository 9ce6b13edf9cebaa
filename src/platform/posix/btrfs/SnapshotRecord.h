// What the service records beside each snapshot: its context and its owner.
//
// The record is the name of an empty file next to the snapshot. A directory entry is
// committed in the same btrfs transaction as the snapshot made after it, so no snapshot
// exists without its record, even after a crash, and no file data has to be flushed.
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_SNAPSHOT_RECORD_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_SNAPSHOT_RECORD_H

#include "QuorlinTypes.h"
#include "platform/posix/btrfs/ProcessIdentity.h"

#include <string>

namespace quorlin {

struct SnapshotRecord {
    VSS_ID snapshotId = GUID_NULL;
    LONG context = VSS_CTX_BACKUP;
    ProcessIdentity owner;
};

// Whether snapshots of `context` go when their owner does (else they persist).
bool IsAutoRelease(LONG context);

// "<snapshot id>.record.<context>.<boot id>.<pid namespace>.<pid>.<start time>"
std::string RecordFileName(const SnapshotRecord& record);
// The inverse of RecordFileName; false for any other name.
bool ParseRecordFileName(const std::string& name, SnapshotRecord& record);

}  // namespace quorlin

#endif
