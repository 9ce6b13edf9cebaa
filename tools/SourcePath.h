// The paths that a user names, in the form the library translates correctly.
#ifndef QUORLIN_TOOL_SOURCE_PATH_H
#define QUORLIN_TOOL_SOURCE_PATH_H

#include <string>

namespace qtool {

// The absolute path of an existing file or folder, with links and "." or ".." resolved:
// the path that the snapshot path names. Throws Failure (usage) when `path` does not
// exist, so that a mistyped path is caught before any snapshot is taken.
std::string ResolveSourcePath(const std::string& path);

}  // namespace qtool

#endif  // QUORLIN_TOOL_SOURCE_PATH_H
