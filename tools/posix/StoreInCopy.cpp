#include "StoreInCopy.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace qtool {
namespace {

// The root folder of every btrfs subvolume has this inode number.
const unsigned long long kSubvolumeRootInode = 256;

}  // namespace

// The btrfs service keeps its store in ".quorlin" at the root of the mount that holds
// the volume (a subvolume of its own, which a snapshot shows as an empty folder), and a
// snapshot of a volume holds what the volume's subvolume holds. So the store is in the
// snapshot only when the volume is the mount's root, and in a copy only when SOURCE is
// that volume itself: SOURCE is the root of a mount. A ".quorlin" anywhere else (at the
// root of a nested subvolume, or in a folder) is a user's, and copied.
std::optional<std::filesystem::path> StoreInCopy(const std::filesystem::path& source) {
    struct statx status;
    if (statx(AT_FDCWD, source.c_str(), AT_SYMLINK_NOFOLLOW, STATX_INO, &status) != 0)
        return std::nullopt;
    // Kernels before 5.8 do not tell a mount's root: any subvolume root is taken for one.
    bool mountRoot = (status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0
                         ? (status.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0
                         : status.stx_ino == kSubvolumeRootInode;
    if (!mountRoot)
        return std::nullopt;
    return std::filesystem::path(".quorlin");
}

}  // namespace qtool
