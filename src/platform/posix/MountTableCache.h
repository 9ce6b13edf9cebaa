// The mount table as the process sees it now, read again only when it may have changed.
//
// Reading /proc/self/mountinfo makes the kernel write out every mount: tens of
// microseconds on a small system, far more where containers mount thousands, and most
// of what a volume lookup costs. One copy serves the whole process. Before each use the
// copy is checked (a few calls, no reading): the kernel's change notice on the open
// table (poll with POLLPRI, which reports every mount and unmount since the last look),
// that the descriptor is still the one opened (a host may close descriptors it does not
// know), and that the process's root is still the one the table was read under (its
// mount and directory: unshare, setns, chroot and pivot_root change what the table would
// say without a notice on the old one). A child made by fork starts afresh.
#ifndef QUORLIN_PLATFORM_POSIX_MOUNT_TABLE_CACHE_H
#define QUORLIN_PLATFORM_POSIX_MOUNT_TABLE_CACHE_H

#include "base/posix/MountTable.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace quorlin {

struct MountTableCopy {
    std::vector<Mount> mounts;
    std::unordered_set<std::string> mountPoints;  // of `mounts`
    uint64_t generation = 0;                      // differs between any two reads
};

enum class MountTableCheck {
    kFull,        // everything above
    kNoticeOnly,  // only the change notice: for a caller that made the full check earlier
                  // in the same call on the same thread (a lookup session)
};

// The current table. Returns 0, or an errno value when it cannot be read.
int CurrentMountTable(std::shared_ptr<const MountTableCopy>& table,
                      MountTableCheck check = MountTableCheck::kFull);

}  // namespace quorlin

#endif
