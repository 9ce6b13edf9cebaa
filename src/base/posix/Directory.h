// The entries of a directory, read through its descriptor.
#ifndef QUORLIN_BASE_POSIX_DIRECTORY_H
#define QUORLIN_BASE_POSIX_DIRECTORY_H

#include <string>
#include <vector>

namespace quorlin {

// Appends the names in the directory `fd` to `names`, without "." and "..". Reads through
// a descriptor of its own, from the start, whatever `fd` has read, opened with
// `extraFlags` besides (O_NOATIME: without changing the directory's access time, which
// needs root or the directory's owner). 0 or an errno value.
int ListDirectory(int fd, std::vector<std::string>& names, int extraFlags = 0);

}  // namespace quorlin

#endif  // QUORLIN_BASE_POSIX_DIRECTORY_H
