// The metadata that `copy` keeps on Linux: owner, extended attributes (ACLs and file
// capabilities among them), permissions and times.
#ifndef QUORLIN_TOOL_POSIX_FILE_METADATA_H
#define QUORLIN_TOOL_POSIX_FILE_METADATA_H

#include "FileSystem.h"

#include <sys/stat.h>

namespace qtool {

// An entry whose metadata is read or written: through an open descriptor (files and
// folders), or by its name in an open folder, not followed (links and special files).
struct Node {
    int fd = -1;
    int folder = -1;
    const char* name = nullptr;

    static Node Open(int fd) { return Node{fd, -1, nullptr}; }
    static Node Named(int folder, const char* name) { return Node{-1, folder, name}; }
};

// Gives `to` the metadata of `from`, whose status is `status`: the owner first (a change
// of owner clears the set-ID bits and file capabilities), then the extended attributes
// (when `clean`, `to` may hold others, and those that `from` has not are removed), the
// permissions (not of a link), and the times last. What cannot be given is added to
// `losses`; an owner that only root may give is not, when the process is not root.
void CopyMetadata(const Node& from, const struct stat& status, const Node& to, bool clean,
                  Losses& losses);

// Makes the open folder `fd` private to the process's user while it is copied.
void MakePrivate(int fd);

}  // namespace qtool

#endif  // QUORLIN_TOOL_POSIX_FILE_METADATA_H
