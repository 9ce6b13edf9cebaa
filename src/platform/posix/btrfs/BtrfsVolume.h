// A volume of the snapshot service: the root of a btrfs subvolume, the root of the mount
// that holds it, and the snapshot store there (SnapshotStore.h).
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_VOLUME_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_VOLUME_H

#include "QuorlinTypes.h"
#include "base/posix/UniqueFd.h"

#include <array>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace quorlin {

struct BtrfsVolume {
    std::string path;  // canonical, no trailing '/' except for "/"
    UniqueFd root;
    dev_t device = 0;  // device and inode of the root: the same volume has the same pair
    ino_t inode = 0;   // under every name (bind mounts, links)
    std::string mountPoint;
    UniqueFd mountRoot;     // reached from "/" through folders that only root can change
    UniqueFd store;         // invalid until the store exists
    std::string storeName;  // its name in the mount root, once it exists
    std::array<uint8_t, 16> fileSystem{};  // the identity of the volume's file system
};

// Opens the volume named `name` (an absolute path, with or without a trailing '/'), and
// the store of its mount when there is one.
// E_INVALIDARG for an empty or relative name; VSS_E_OBJECT_NOT_FOUND when nothing is
// there; VSS_E_VOLUME_NOT_SUPPORTED for anything but a btrfs subvolume root;
// kVolumeReadOnly on a read-only mount; E_ACCESSDENIED when a user other than root could
// redirect the paths of its snapshots (TrustedPath.h) or the store is not root's alone;
// another mapped errno result when the system refuses. Every refusal but the first three
// writes a trace line that names the reason.
HRESULT OpenBtrfsVolume(const std::string& name, BtrfsVolume& volume);

}  // namespace quorlin

#endif
