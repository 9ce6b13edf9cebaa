// The metadata that `copy` keeps: times and permissions.
#ifndef QUORLIN_TOOL_FILE_METADATA_H
#define QUORLIN_TOOL_FILE_METADATA_H

#include <filesystem>

namespace qtool {

// Gives `to` the access and modification times and the permissions of `from` (on Linux
// also its owner, where the process may set it; on Windows its creation time and
// attributes). Neither is followed when it is a symbolic link. Throws
// std::filesystem::filesystem_error.
void CopyMetadata(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace qtool

#endif  // QUORLIN_TOOL_FILE_METADATA_H
