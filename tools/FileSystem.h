// What `copy` asks of the file system about the snapshot's entries. Snapshot paths on
// Windows begin with \\?\GLOBALROOT, which the C runtime's stat() refuses, so each
// platform answers with its own calls.
#ifndef QUORLIN_TOOL_FILE_SYSTEM_H
#define QUORLIN_TOOL_FILE_SYSTEM_H

#include <cstdint>
#include <filesystem>
#include <vector>

namespace qtool {

enum class EntryKind { kFile, kFolder, kLink, kOther };

struct Entry {
    std::filesystem::path path;
    EntryKind kind = EntryKind::kOther;
    std::uint64_t size = 0;  // of a file
};

// The entry at `path`, a link not followed. Throws std::filesystem::filesystem_error.
Entry Inspect(const std::filesystem::path& path);
// The entries of the folder `path`, without "." and "..", and on Linux without the
// snapshot service's own folder (".quorlin" at the root of a btrfs volume, which a snapshot
// of that volume holds too). Throws std::filesystem::filesystem_error.
std::vector<Entry> ListFolder(const std::filesystem::path& path);

}  // namespace qtool

#endif  // QUORLIN_TOOL_FILE_SYSTEM_H
