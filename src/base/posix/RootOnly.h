// Whether only root can change a folder, or an entry in it. Header-only: the btrfs service
// and the command (which links only the public library) decide it by the same rule.
#ifndef QUORLIN_BASE_POSIX_ROOT_ONLY_H
#define QUORLIN_BASE_POSIX_ROOT_ONLY_H

#include <sys/stat.h>

namespace quorlin {

// Group and others: an ACL that lets a named user write shows as the group's bit.
constexpr mode_t kWritableByOthers = S_IWGRP | S_IWOTH;

// Whether only root can add entries to the folder.
inline bool OnlyRootCanWrite(const struct stat& folder) {
    return folder.st_uid == 0 && (folder.st_mode & kWritableByOthers) == 0;
}

// Whether only root can change the entry `entry` (its status) in the folder `folder`: rename
// it, remove it, or put another in its place. In a sticky folder of root's (as /tmp) others
// may add names, but not rename or remove root's.
inline bool OnlyRootCanReplace(const struct stat& folder, const struct stat& entry) {
    return OnlyRootCanWrite(folder) ||
           (folder.st_uid == 0 && (folder.st_mode & S_ISVTX) != 0 && entry.st_uid == 0);
}

}  // namespace quorlin

#endif
