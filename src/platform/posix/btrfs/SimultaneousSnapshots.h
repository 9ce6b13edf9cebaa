// Snapshots taken at once, so that those on one btrfs file system land in one transaction.
//
// btrfs makes a snapshot when the transaction that its call joined commits, and a call
// commits at once the transaction it joined. Calls that join while a commit is under way
// wait for it and then join the next transaction together. So each file system of the set
// is asked to start committing its running transaction (which holds the set's records),
// and then one thread per snapshot, each ready inside its own call's reach, is let go at
// the same moment. Snapshots into one folder would still be taken one after another (the
// folder stays locked for the whole call), hence a folder per snapshot.
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_SIMULTANEOUS_SNAPSHOTS_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_SIMULTANEOUS_SNAPSHOTS_H

#include "platform/posix/btrfs/VolumeCalls.h"

#include <string>
#include <vector>

namespace quorlin {

// One snapshot to take: of the subvolume whose root is `source`, as `name` in `folder`.
struct SnapshotOrder {
    int source = -1;
    int folder = -1;
    std::string name;
    int error = 0;  // the outcome: 0 or the errno value of the failed call
};

// Takes the snapshots of `orders` at once, after StartCommit on each of `fileSystems` (one
// descriptor on each file system), and puts each outcome into its order. Returns the
// milliseconds from the first call's start to the last one's end. A thread that cannot be
// had leaves its snapshot to the calling thread, after the others have been let go.
double TakeAtOnce(VolumeCalls& calls, std::vector<SnapshotOrder>& orders,
                  const std::vector<int>& fileSystems);

}  // namespace quorlin

#endif
