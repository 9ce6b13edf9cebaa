// What the btrfs trees say about subvolumes, read with the tree search of the kernel
// (root only): every subvolume of a file system and where it is linked, whatever the
// folders around it are called, and a folder opened by its identity rather than its path.
// Each function returns 0 or the errno value of the failed call.
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_TREE_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_TREE_H

#include "base/posix/UniqueFd.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quorlin {

// Where a subvolume is linked: the name `name` in the folder (inode `folder`) of the
// subvolume `parent`.
struct SubvolumeLink {
    uint64_t id = 0;
    uint64_t parent = 0;
    uint64_t folder = 0;
    std::string name;
};

// The links of every subvolume of the file system that holds `fd` (the top one has none).
int ListSubvolumeLinks(int fd, std::vector<SubvolumeLink>& links);
// The links of the subvolumes linked inside the subvolume `parent` alone: the few keys of
// the tree that name its children, whatever else the file system holds.
int ListChildSubvolumes(int fd, uint64_t parent, std::vector<SubvolumeLink>& links);

// Opens the folder with inode `folder` in the subvolume `subvolume` of the file system
// that holds `fd`, wherever it is linked (needs CAP_DAC_READ_SEARCH; EPERM without it).
// ENOENT or ESTALE when it is gone.
int OpenFolderById(int fd, uint64_t subvolume, uint64_t folder, UniqueFd& directory);

}  // namespace quorlin

#endif
