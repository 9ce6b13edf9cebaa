// The mounted btrfs file systems, each once however often it is mounted, with the stores
// of all its mounts.
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_MOUNTED_FILE_SYSTEMS_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_MOUNTED_FILE_SYSTEMS_H

#include "base/posix/UniqueFd.h"

#include <string>
#include <vector>

namespace quorlin {

struct MountedFileSystem {
    std::string mountPoint;  // one mount of it
    UniqueFd root;           // that mount's root
    std::vector<UniqueFd> stores;

    std::vector<int> StoreFds() const;
};

// Every mounted btrfs file system; with `onlyOf` (a descriptor) only the one that holds it.
std::vector<MountedFileSystem> FindMountedFileSystems(int onlyOf = -1);

}  // namespace quorlin

#endif
