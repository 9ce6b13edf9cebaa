// Opening a path as root so that no other user can redirect it: one name at a time from
// "/", never through a link, each folder on the way one that keeps the next entry in
// root's hands.
#ifndef QUORLIN_PLATFORM_POSIX_WRITERS_TRUSTED_WALK_H
#define QUORLIN_PLATFORM_POSIX_WRITERS_TRUSTED_WALK_H

#include "platform/posix/UniqueFd.h"

#include <string>
#include <sys/stat.h>

namespace quorlin {

// Whether only root can add entries to the folder: root owns it, group and others may not
// write it (an ACL that lets a named user write shows as the group's bit).
bool OnlyRootCanWrite(const struct stat& folder);

// Opens the absolute `path` with `flags` (O_NOFOLLOW and O_CLOEXEC added) walking from "/";
// "." and ".." are resolved by name first. Each folder on the way must be one that only
// root can write, or a sticky folder of root's (as /tmp) when the entry we go on through
// belongs to root. 0 with `fd` and its `status`; EACCES with `refusedAt` naming the folder
// that others could change; ELOOP with `refusedAt` naming the link met; EINVAL for a
// relative path; else the errno value of the step that failed.
int OpenTrustedPath(const std::string& path, int flags, UniqueFd& fd, struct stat& status,
                    std::string& refusedAt);

}  // namespace quorlin

#endif
