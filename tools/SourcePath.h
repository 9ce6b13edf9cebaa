// The paths that a user names, in the form the library translates correctly.
#ifndef QUORLIN_TOOL_SOURCE_PATH_H
#define QUORLIN_TOOL_SOURCE_PATH_H

#include <string>

namespace qtool {

// The absolute path of an existing file or folder, with links and "." or ".." resolved
// (the library cuts the volume's root off the front of the path it is given). Throws
// Failure (usage) when `path` does not exist.
std::string ResolveSourcePath(const std::string& path);

}  // namespace qtool

#endif  // QUORLIN_TOOL_SOURCE_PATH_H
