// How the command after `--` receives the snapshot paths: the arguments {} and {1},
// {2}, ... stand for the snapshot path of the first, second, ... PATH, and the
// environment holds QUORLIN_SNAPSHOT_1, QUORLIN_SNAPSHOT_2, ...
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
// QUORLIN_SNAPSHOT_<n> for each snapshot path, numbered from 1.
Environment SnapshotEnvironment(const std::vector<std::string>& snapshotPaths);

}  // namespace qtool

#endif  // QUORLIN_TOOL_PLACEHOLDERS_H
