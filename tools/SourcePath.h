// The paths that a user names, in the form the library translates correctly.
#ifndef QUORLIN_TOOL_SOURCE_PATH_H
#define QUORLIN_TOOL_SOURCE_PATH_H

#include <string>

namespace qtool {

// The absolute path of an existing file or folder, with links and "." or ".." resolved:
// the path that the snapshot path names. Throws Failure (usage) when `path` does not
// exist, so that a mistyped path is caught before any snapshot is taken.
std::string ResolveSourcePath(const std::string& path);

// The volume of the resolved `source`, read off its `snapshot` path: the snapshot path is
// the snapshot's device name, a separator and the rest of `source` below its volume, so
// the volume is what stays of `source` once the longest tail that begins with a
// separator and ends both paths is taken off ("C:\" and "/" keep their separator).
// `source` itself when no such tail exists (it is the volume's root).
std::string VolumeOf(const std::string& source, const std::string& snapshot);

// Whether the resolved `path` is the folder `folder` or lies below it (not beside it, as
// "/v/data2" lies beside "/v/data").
bool AtOrBelow(const std::string& path, const std::string& folder);

}  // namespace qtool

#endif  // QUORLIN_TOOL_SOURCE_PATH_H
