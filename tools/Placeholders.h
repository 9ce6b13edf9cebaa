// How the command after `--` receives the snapshot paths. In its arguments, {} and {1},
// {2}, ... stand for the snapshot path of the first, second, ... PATH wherever they stand
// ("rsync -a {}/ dest/"); a doubled one passes as it is written, once: {{}} gives {},
// {{2}} gives {2}. Nothing else in an argument changes. The environment holds every
// snapshot path of the set, the PATHs' first and then the nested volumes' (NestedVolumes.h):
// QUORLIN_SNAPSHOT_<n>, with beside it QUORLIN_PATH_<n>, the path it is the snapshot of, and
// QUORLIN_SNAPSHOT_COUNT, how many there are.
#ifndef QUORLIN_TOOL_PLACEHOLDERS_H
#define QUORLIN_TOOL_PLACEHOLDERS_H

#include "ChildProcess.h"

#include <string>
#include <vector>

namespace qtool {

// Throws Failure (usage) when an argument names a PATH beyond the `pathCount` given,
// so that a mistake shows before any snapshot is taken.
void CheckPlaceholders(const std::vector<std::string>& arguments, size_t pathCount);
// `arguments` with each placeholder replaced by its snapshot path.
std::vector<std::string> ReplacePlaceholders(const std::vector<std::string>& arguments,
                                             const std::vector<std::string>& snapshotPaths);

// The names of the variables of SnapshotEnvironment: a COMMAND inherits none of them from
// quorlin's own environment (from a quorlin that runs this one, say).
extern const std::vector<std::string> kSnapshotVariablePrefixes;
// QUORLIN_SNAPSHOT_<n> and QUORLIN_PATH_<n> for each of `snapshotPaths` and the `paths` they
// are the snapshots of, numbered from 1, and QUORLIN_SNAPSHOT_COUNT.
Environment SnapshotEnvironment(const std::vector<std::string>& paths,
                                const std::vector<std::string>& snapshotPaths);

}  // namespace qtool

#endif  // QUORLIN_TOOL_PLACEHOLDERS_H
