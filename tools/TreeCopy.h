// Copies a file or a folder tree out of a snapshot, keeping what the platform keeps of
// each entry (on Linux: content with its holes, owner, permissions, times, extended
// attributes, links, hard links, fifos, device nodes and sockets), and names what it
// could not keep.
#ifndef QUORLIN_TOOL_TREE_COPY_H
#define QUORLIN_TOOL_TREE_COPY_H

#include "Progress.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace qtool {

struct TreeSize {
    std::uint64_t bytes = 0;  // of the files' content, each file once whatever its names
    std::uint64_t files = 0;  // regular files, each name
};

// Told one sentence for each thing the copy could not keep.
using LossReport = std::function<void(const std::string& sentence)>;

class TreeCopy {
public:
    // `snapshot`: SOURCE inside the snapshot, which is read. `source`: SOURCE itself, by
    // which entries are named to the user. `store`: the snapshot service's store, relative
    // to SOURCE, when the copy holds it (StoreInCopy); it is left out. `stopped` is asked
    // before each entry and piece of content; when it answers true the copy ends with
    // Failure(kExitInterrupted).
    TreeCopy(std::filesystem::path snapshot, std::filesystem::path source,
             std::optional<std::filesystem::path> store, std::function<bool()> stopped);

    // Copies the folder at `place` (a path below SOURCE) from `snapshot` (the root of
    // another snapshot of the set, of the volume nested there) instead of from SOURCE's
    // snapshot, which shows an empty folder there; `store` as above, relative to `place`.
    void Graft(std::filesystem::path place, std::filesystem::path snapshot,
               std::optional<std::filesystem::path> store);

    // What copying involves. Throws Failure.
    TreeSize Measure() const;
    // Copies to `name` in the folder `destination`: a file or link replaces what is
    // there, a folder's content is merged into a folder that is there. Then makes the
    // copy durable. Returns how many things could not be kept, each told to `report`.
    // Throws Failure: kExitCopyFailed when a read or write fails (the entry that failed
    // keeps its earlier copy), kExitInterrupted when stopped part-way.
    std::size_t CopyTo(const std::filesystem::path& destination, const std::filesystem::path& name,
                       Progress& progress, const LossReport& report) const;

private:
    std::filesystem::path snapshot_;
    std::filesystem::path source_;
    std::set<std::filesystem::path> stores_;                         // as paths below `source_`
    std::map<std::filesystem::path, std::filesystem::path> grafts_;  // place: snapshot
    std::function<bool()> stopped_;
};

}  // namespace qtool

#endif  // QUORLIN_TOOL_TREE_COPY_H
