// Paths that only root can redirect. The service hands out snapshot paths that a host
// resolves by name later, as root: a user who can rename, replace or create an entry in a
// folder on the way could make such a path name a tree of theirs. A folder keeps the path
// below it in root's hands when root owns it and no one else may write it, or when it is
// sticky (as /tmp) and the entry that the path goes on through belongs to root: others may
// add names there, but not rename or remove root's.
#ifndef QUORLIN_BASE_POSIX_TRUSTED_PATH_H
#define QUORLIN_BASE_POSIX_TRUSTED_PATH_H

#include "base/posix/RootOnly.h"
#include "base/posix/UniqueFd.h"

#include <cstdint>
#include <string>
#include <sys/stat.h>

namespace quorlin {

// The status of `fd` (its type, mode, owner, size and identity; no times) and, with
// `mountId`, the identity of the mount through which it was opened, in one call.
int StatusOf(int fd, struct stat& status, uint64_t* mountId);

// Opens the absolute `path` with `flags` (O_NOFOLLOW and O_CLOEXEC added) by walking from
// "/" one name at a time without following links, each folder on the way keeping the entry
// we go on through in root's hands (OnlyRootCanReplace); "." and ".." are resolved by name
// first. 0 with `fd` and its `status`; EACCES with `refusedAt` naming the folder that
// others could change; ELOOP with `refusedAt` naming the link met; EINVAL for a relative
// path; else the errno value of the step that failed.
int OpenTrustedPath(const std::string& path, int flags, UniqueFd& fd, struct stat& status,
                    std::string& refusedAt);

// Opens the root of the mount `mountId` on the way to the folder `path` (absolute, without
// "." or ".." steps or links) by walking from "/" along `path` one folder at a time
// without following links, and puts its path into `mountPoint`.
// EACCES, with `refusedAt` set to the folder that others could change (or the link met),
// when a user other than root could redirect a path through a folder on the way to the
// mount root; ENOENT when no folder on the way lies on that mount; another errno value
// when a step cannot be opened.
int OpenMountRoot(const std::string& path, uint64_t mountId, UniqueFd& mountRoot,
                  std::string& mountPoint, std::string& refusedAt);

}  // namespace quorlin

#endif
