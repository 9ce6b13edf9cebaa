// snapshot --in-place: the command after -- runs in a private view of the file system (a
// mount namespace of its own on Linux) in which each PATH, and each nested volume that
// joined the set, is its read-only snapshot bound over its original place. Nothing changes
// outside that view, and it vanishes with the command.
//
// The binds are made by quorlin itself, started again as the command's process with
// kInPlaceChild as its first argument: a process of one thread, which may enter a mount
// namespace of its own, binds, then becomes the command.
#ifndef QUORLIN_TOOL_IN_PLACE_H
#define QUORLIN_TOOL_IN_PLACE_H

#include <string>
#include <vector>

namespace qtool {

// The snapshot `snapshot` (a path the library gave) bound over `target` (its original
// place, an absolute path without links). `origin`: for a nested volume, the identity of the
// volume found there (NestedVolume), of which the snapshot must be; empty for a PATH, whose
// snapshot must be of the very entry found at its place.
struct Bind {
    std::string target;
    std::string snapshot;
    std::string origin;
};

// The first argument of quorlin started as the command's process.
extern const char kInPlaceChild[];

// The binds for each source and its snapshot path (and its origin, when given): one per
// place, parents before what lies below them.
std::vector<Bind> PlanBinds(const std::vector<std::string>& sources,
                            const std::vector<std::string>& snapshotPaths,
                            const std::vector<std::string>& origins = {});
// For each bind of `binds` (in their order), the index of the nearest earlier one whose
// target holds its target, or -1.
std::vector<int> EnclosingBinds(const std::vector<Bind>& binds);

// The arguments of quorlin started as the command's process for `binds`, then `command`.
std::vector<std::string> InPlaceArguments(const std::vector<Bind>& binds,
                                          const std::vector<std::string>& command);
// Parses them back (the arguments after kInPlaceChild); false when they are not such.
bool ParseInPlaceArguments(const std::vector<std::string>& arguments, std::vector<Bind>& binds,
                           std::vector<std::string>& command);

// The command line that starts quorlin as the command's process.
std::vector<std::string> InPlaceCommand(const std::vector<Bind>& binds,
                                        const std::vector<std::string>& command);
// Throws Failure (usage) where the platform has no private views.
void CheckInPlaceSupported();
// quorlin as the command's process: makes the binds, runs the command in the view, and
// when it ends, ends what it left running there (so that nothing holds the snapshots once
// the backup completes). Returns the command's exit status, or an exit code when it could
// not run it.
int RunInPlaceChild(const std::vector<std::string>& arguments);

}  // namespace qtool

#endif  // QUORLIN_TOOL_IN_PLACE_H
