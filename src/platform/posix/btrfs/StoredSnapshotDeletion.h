// Deletion of snapshots that the service keeps on the mounted btrfs file systems,
// whichever process made them (a persistent set outlives its maker).
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_STORED_SNAPSHOT_DELETION_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_STORED_SNAPSHOT_DELETION_H

#include "platform/posix/btrfs/SnapshotStore.h"

namespace quorlin {

// Deletes the snapshot set `id` (VSS_OBJECT_SNAPSHOT_SET) or the snapshot `id`
// (VSS_OBJECT_SNAPSHOT) wherever the service keeps it, commits the deletion on each file
// system and tallies it. False when nothing matched.
bool DeleteStoredSnapshots(VolumeCalls& calls, const VSS_ID& id, VSS_OBJECT_TYPE type,
                           DeletionTally& tally);

}  // namespace quorlin

#endif
