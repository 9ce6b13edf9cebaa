#ifndef QUORLIN_PLATFORM_POSIX_VOLUME_LOOKUP_H
#define QUORLIN_PLATFORM_POSIX_VOLUME_LOOKUP_H

#include "base/posix/MountTable.h"

#include <string>
#include <vector>

namespace quorlin {

// The root of the volume that holds the already resolved path `resolved`, ending in '/':
// on btrfs the root of the subvolume that holds it (subvolumes are volumes here) as far
// as it lies inside the path's mount, else the mount point from the mount table.
// Returns 0 or an errno value.
int LookupVolumeRoot(const std::string& resolved, std::string& root);
// The same with the mount table given.
int LookupVolumeRoot(const std::string& resolved, const std::vector<Mount>& mounts,
                     std::string& root);

}  // namespace quorlin

#endif
