// Copies a file or a folder tree, keeping times and permissions.
#ifndef QUORLIN_TOOL_TREE_COPY_H
#define QUORLIN_TOOL_TREE_COPY_H

#include "Progress.h"

#include <cstdint>
#include <filesystem>

namespace qtool {

struct TreeSize {
    std::uint64_t bytes = 0;
    std::uint64_t files = 0;  // regular files
};

// What copying `source` involves. Links are not followed. Throws Failure (copy failed).
TreeSize MeasureTree(const std::filesystem::path& source);

// Copies `source` (a file, a folder with everything below it, or a symbolic link, which
// is copied as a link) to `destination`, which it creates or overwrites; a folder's
// content is merged into an existing folder. Other kinds of files (devices, pipes,
// sockets) are skipped with a warning. Throws Failure: kExitCopyFailed when a read or
// write fails, kExitInterrupted when a stop is requested part-way.
void CopyTree(const std::filesystem::path& source, const std::filesystem::path& destination,
              Progress& progress);

}  // namespace qtool

#endif  // QUORLIN_TOOL_TREE_COPY_H
