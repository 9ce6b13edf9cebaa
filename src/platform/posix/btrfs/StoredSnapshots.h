// The snapshots that the service keeps on one file system, found by their records: in the
// stores it is given (each snapshot in a folder of its own there, or, as earlier versions
// kept them, side by side in the store), and in the folders that hold a subvolume named as
// the service names snapshots, wherever root renamed or moved it. Only folders where no
// one but root can add entries count, so that nothing a user made passes for the
// service's. The one place that enumerates the service's snapshots; sweeping and deleting
// build on it.
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_STORED_SNAPSHOTS_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_STORED_SNAPSHOTS_H

#include "platform/posix/btrfs/SnapshotStore.h"

#include <vector>

namespace quorlin {

struct StoredSnapshot {
    int folder = -1;  // the folder of the record and its snapshot, open while the list lives
    SnapshotRecord record;
    bool snapshotExists = false;  // else only the record is left
    // The snapshot lies in its own folder but its record is gone (root removed the store's
    // content by hand, which cannot remove a read-only snapshot): only its identity is
    // known, and the lock of its folder tells whether its owner lives.
    bool recordGone = false;
};

// Where a list looks for the snapshots of a file system besides the stores it is given.
enum class Reach {
    kStores,     // the subvolumes linked in those stores: the few keys that can name them
    kWholeTree,  // every subvolume of the file system (stores that root moved elsewhere)
};

class StoredSnapshotList {
public:
    // Reads the stores `stores` on the file system that holds `fsFd`, and as far as
    // `reach` says the rest of its subvolume tree. Returns 0 or the errno value of the
    // first failure; what could be read is listed either way.
    int Read(int fsFd, const std::vector<int>& stores, Reach reach = Reach::kWholeTree);

    const std::vector<StoredSnapshot>& Snapshots() const { return snapshots_; }

private:
    // Lists the records in `folder` (and, in a snapshot's own folder, a snapshot whose
    // record is gone); puts the names of the folders in it that are named as snapshots
    // into `snapshotFolders`, when given.
    int AddFolder(UniqueFd folder, std::vector<std::string>* snapshotFolders = nullptr);

    std::vector<UniqueFd> folders_;
    std::vector<StoredSnapshot> snapshots_;
    // Snapshots' own folders left empty in a store (their owner died as it removed them).
    std::vector<std::pair<int, std::string>> emptyFolders_;  // the store, the name

    friend void RemoveAbandonedSnapshots(VolumeCalls&, const StoredSnapshotList&,
                                         const std::string&, DeletionTally*);
};

// Removes, of the snapshots in `list`, the auto-release ones whose owner is gone and the
// records that lost their snapshot and owner; with `tally`, counts the snapshots removed
// (`mountPoint` names them in the trace of a failure). Nothing is committed.
void RemoveAbandonedSnapshots(VolumeCalls& calls, const StoredSnapshotList& list,
                              const std::string& mountPoint, DeletionTally* tally);

// Removes from the store `storeFd` on the file system that holds `fsFd` the auto-release
// snapshots whose owner is gone and the records that lost their snapshot and owner; where
// the mount has no store (`storeFd` invalid: made for the first time, or root moved or
// removed it) from wherever the whole subvolume tree shows them. Persistent snapshots and
// those whose owner lives stay. What cannot be removed now waits for a later sweep.
void SweepAbandonedSnapshots(VolumeCalls& calls, int fsFd, int storeFd);

// Removes the stores being made (StoreIdentity.h) that a process left in the mount root
// `mountRootFd` when it died: root's, empty, never published.
void SweepUnpublishedStores(VolumeCalls& calls, int mountRootFd);

}  // namespace quorlin

#endif
