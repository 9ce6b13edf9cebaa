// Where the snapshot service's store shows in a copy. The service keeps its snapshots
// in a store on the volume's own file system, and a snapshot of a volume that holds the
// store shows the store as it was at the instant: the copy leaves it out, and nothing
// else.
#ifndef QUORLIN_TOOL_STORE_IN_COPY_H
#define QUORLIN_TOOL_STORE_IN_COPY_H

#include <filesystem>
#include <optional>

namespace qtool {

// The store's path relative to `source` (an absolute path without links) in a snapshot
// of `source`, or nothing when such a snapshot does not hold it.
std::optional<std::filesystem::path> StoreInCopy(const std::filesystem::path& source);

}  // namespace qtool

#endif  // QUORLIN_TOOL_STORE_IN_COPY_H
