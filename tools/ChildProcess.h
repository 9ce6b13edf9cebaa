// Runs the command given after `--`.
#ifndef QUORLIN_TOOL_CHILD_PROCESS_H
#define QUORLIN_TOOL_CHILD_PROCESS_H

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace qtool {

// How long a command has to end after a stop request is passed on to it, before it is
// killed (with everything it started, where the platform tells).
const std::chrono::seconds kCommandStopGrace(10);

// Variables added to (or replaced in) the command's environment: name, value.
using Environment = std::vector<std::pair<std::string, std::string>>;

// Runs `arguments` (the program is looked up in PATH) with `environment` added, and without
// the inherited variables whose names begin with one of `withoutPrefixes`, and waits for it
// to end. A stop request (StopSignal.h) is passed on to it, and once
// kCommandStopGrace has passed it is killed. Returns its exit status; a program ended by
// a signal gives 128 + the signal's number. Throws Failure (kExitCannotRun) when the
// program cannot be started.
int RunCommand(const std::vector<std::string>& arguments, const Environment& environment,
               const std::vector<std::string>& withoutPrefixes = {});

}  // namespace qtool

#endif  // QUORLIN_TOOL_CHILD_PROCESS_H
