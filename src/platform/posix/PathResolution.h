#ifndef QUORLIN_PLATFORM_POSIX_PATH_RESOLUTION_H
#define QUORLIN_PLATFORM_POSIX_PATH_RESOLUTION_H

#include <string>

namespace quorlin {

// The canonical absolute form of `path`: symbolic links, "." and ".." resolved through
// its nearest existing ancestor, the missing rest appended as written (with "." and ".."
// folded). Returns 0, or an errno value (EINVAL for an empty path).
int ResolvePath(const std::string& path, std::string& resolved);

}  // namespace quorlin

#endif
