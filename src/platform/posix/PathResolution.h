#ifndef QUORLIN_PLATFORM_POSIX_PATH_RESOLUTION_H
#define QUORLIN_PLATFORM_POSIX_PATH_RESOLUTION_H

#include <string>

namespace quorlin {

// What the resolution of a path found on its way, for callers that remember it.
struct ResolutionWalk {
    // The whole path exists: the resolved form is its canonical path.
    bool complete = true;
    // Resolving the resolved form again gives it back (the missing rest held no "." or "..").
    bool canonical = true;
    // When not complete: the canonical path of the nearest existing ancestor joined with
    // the first component that does not exist below it.
    std::string firstMissing;
};

// The canonical absolute form of `path`: symbolic links, "." and ".." resolved through
// its nearest existing ancestor, the missing rest appended as written (with "." and ".."
// folded). Returns 0, or an errno value (EINVAL for an empty path). `walk`, when given,
// receives what the resolution found.
int ResolvePath(const std::string& path, std::string& resolved, ResolutionWalk* walk = nullptr);

// `path` made absolute against the working directory. Returns 0 or an errno value.
int AbsolutePath(const std::string& path, std::string& absolute);

}  // namespace quorlin

#endif
