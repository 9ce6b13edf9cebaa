// The commands of quorlin. Each returns the exit code or throws Failure.
#ifndef QUORLIN_TOOL_COMMANDS_H
#define QUORLIN_TOOL_COMMANDS_H

#include "CommandLine.h"

namespace qtool {

// quorlin snapshot PATH... [-- COMMAND [ARGS...]]
int RunSnapshot(const Invocation& invocation);
// quorlin copy SOURCE DEST
int RunCopy(const Invocation& invocation);
// quorlin list [PATH]
int RunList(const Invocation& invocation);
// quorlin delete SET-ID|--orphans [PATH]
int RunDelete(const Invocation& invocation);

}  // namespace qtool

#endif  // QUORLIN_TOOL_COMMANDS_H
