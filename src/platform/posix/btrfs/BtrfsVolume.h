// A volume of the snapshot service: the root of a btrfs subvolume, and the root of the
// mount that holds it (where the snapshot store lives).
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_VOLUME_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_VOLUME_H

#include "QuorlinTypes.h"
#include "platform/posix/UniqueFd.h"

#include <string>
#include <sys/types.h>

namespace quorlin {

struct BtrfsVolume {
    std::string path;  // canonical, no trailing '/' except for "/"
    UniqueFd root;
    dev_t device = 0;  // device and inode of the root: the same volume has the same pair
    ino_t inode = 0;   // under every name (bind mounts, links)
    std::string mountPoint;
    UniqueFd mountRoot;
};

// Opens the volume named `name` (an absolute path, with or without a trailing '/').
// E_INVALIDARG for an empty or relative name; VSS_E_OBJECT_NOT_FOUND when nothing is
// there; VSS_E_VOLUME_NOT_SUPPORTED for anything but a btrfs subvolume root on a
// writable mount; another mapped errno result when the system refuses.
HRESULT OpenBtrfsVolume(const std::string& name, BtrfsVolume& volume);

}  // namespace quorlin

#endif
