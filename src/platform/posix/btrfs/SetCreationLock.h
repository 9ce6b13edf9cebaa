// One snapshot set in creation at a time on the system, as VSS allows: a requester holds an
// exclusive lock (flock) on a file in a folder of root's from StartSnapshotSet until its
// DoSnapshotSet has ended or the set is let go. A second requester is refused at once with
// VSS_E_SNAPSHOT_SET_IN_PROGRESS; it never waits. The kernel drops the lock however its
// holder ends.
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_SET_CREATION_LOCK_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_SET_CREATION_LOCK_H

#include "base/posix/UniqueFd.h"

#include <string>

namespace quorlin {

// The folder of the lock: made by root, 0700, under a folder only root can write.
extern const char kSetCreationLockFolder[];

// Takes the lock into `lock`. 0; EWOULDBLOCK while another requester holds it; EACCES when
// the folder is not root's alone (or a link); else the errno value of the failed step.
// `folder` names a parent other than /run (tests).
int LockSetCreation(UniqueFd& lock, const std::string& folder = kSetCreationLockFolder);

}  // namespace quorlin

#endif
