// The snapshots that the service keeps on one file system, found by their records: in the
// stores it is given and in every other folder that holds a subvolume named as the service
// names snapshots, wherever root renamed or moved it. Only folders where no one but root
// can add entries count, so that nothing a user made passes for the service's. The one
// place that enumerates the service's snapshots; sweeping and deleting build on it.
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_STORED_SNAPSHOTS_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_STORED_SNAPSHOTS_H

#include "platform/posix/btrfs/SnapshotStore.h"

#include <vector>

namespace quorlin {

struct StoredSnapshot {
    int folder = -1;  // the folder of the record and its snapshot, open while the list lives
    SnapshotRecord record;
    bool snapshotExists = false;  // else only the record is left
};

class StoredSnapshotList {
public:
    // Reads the file system that holds `fsFd`, and the stores `stores` on it. Returns 0 or
    // the errno value of the first failure; what could be read is listed either way.
    int Read(int fsFd, const std::vector<int>& stores);

    const std::vector<StoredSnapshot>& Snapshots() const { return snapshots_; }

private:
    int AddFolder(UniqueFd folder);

    std::vector<UniqueFd> folders_;
    std::vector<StoredSnapshot> snapshots_;
};

// Removes, of the snapshots in `list`, the auto-release ones whose owner is gone and the
// records that lost their snapshot and owner; with `tally`, counts the snapshots removed
// (`mountPoint` names them in the trace of a failure). Nothing is committed.
void RemoveAbandonedSnapshots(VolumeCalls& calls, const StoredSnapshotList& list,
                              const std::string& mountPoint, DeletionTally* tally);

// Removes from the file system that holds `fsFd` (and from the store `storeFd`, when valid)
// the auto-release snapshots whose owner is gone and the records that lost their snapshot
// and owner. Persistent snapshots and those whose owner lives stay. What cannot be removed
// now waits for a later sweep.
void SweepAbandonedSnapshots(VolumeCalls& calls, int fsFd, int storeFd);

}  // namespace quorlin

#endif
