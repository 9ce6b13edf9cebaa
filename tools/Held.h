// The snapshots held on the volumes, as `quorlin list` shows them and `quorlin delete`
// removes them, through the library's C interface.
#ifndef QUORLIN_TOOL_HELD_H
#define QUORLIN_TOOL_HELD_H

#include "Failure.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qtool {

enum class Owner { kUnknown, kLives, kGone };

struct HeldEntry {
    std::string setId;
    std::string snapshotId;
    std::string volume;
    std::string snapshotPath;
    bool persistent = false;
    long ownerPid = 0;
    Owner owner = Owner::kUnknown;
    std::int64_t created = 0;  // seconds since 1970; 0: not known
    bool deleted = false;      // deleted, with its record, but held by process `ownerPid`
};

// The snapshots held on the volume of `path` (empty: on every volume). Throws Failure.
std::vector<HeldEntry> ReadHeld(const std::string& path);

// The snapshots that were deleted but that a process still holds (its working folder, root,
// an open file or a mount of its view lies in one), on the file system of `path` (empty: on
// all): readable to that process until it lets go, and so shown. One entry per snapshot, its
// volume the mount point of its store.
std::vector<HeldEntry> HeldAfterDeletion(const std::string& path);

// "SET-ID<TAB>VOLUME<TAB>CONTEXT<TAB>OWNER<TAB>AGE" at the time `now` (seconds since 1970):
// CONTEXT "persistent" or "auto-release"; OWNER "PID running", "PID gone" or "unknown";
// AGE "45s", "12m", "3h", "2d" or "?". A deleted snapshot still held: "-<TAB>VOLUME<TAB>
// deleted<TAB>PID holds<TAB>?".
std::string HeldLine(const HeldEntry& entry, std::int64_t now);
// The header line over HeldLine's lines.
extern const char kHeldHeader[];

// Deletes the set `setId`, or with `setId` empty the orphans (auto-release snapshots of
// owners that are gone), on the volume of `path` (empty: everywhere); the count deleted.
// Throws Failure with a sentence that says why not (its owner runs, no such set, ...).
long DeleteHeld(const std::string& setId, const std::string& path);

}  // namespace qtool

#endif  // QUORLIN_TOOL_HELD_H
