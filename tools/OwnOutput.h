// Where quorlin's own answer goes: the PATH<TAB>SNAPSHOT-PATH lines, or the lines of --json.
// Standard output, unless a COMMAND is given after `--`: standard output is then the
// COMMAND's alone (an archive, a program's JSON), quorlin writes nothing of its own there,
// and its answer goes to standard error. --output-fd N sends the answer to the open
// descriptor N instead, with or without a COMMAND.
#ifndef QUORLIN_TOOL_OWN_OUTPUT_H
#define QUORLIN_TOOL_OWN_OUTPUT_H

#include <cstdio>
#include <string>
#include <vector>

namespace qtool {

struct OwnOutput {
    std::FILE* stream = nullptr;
    // Whether an answer that is not taken fails the command: on standard output and on a
    // descriptor named for it, whose reader waits for it. On standard error, the answer's
    // place beside a COMMAND, the rule of standard error holds: one that is closed or
    // stalls costs the lines, never the backup.
    bool required = false;
    std::string name;  // "standard output", "standard error", "descriptor 3"
};

// The output for --output-fd `outputFd` (-1: not given) and whether a COMMAND runs.
// Throws Failure (usage) when the descriptor is not open for writing.
OwnOutput OwnOutputFor(int outputFd, bool commandRuns);

// Writes `text` and flushes it. Throws Failure (kExitFailed) when a required output did
// not take it; `what` names what was written ("the snapshot paths"). An output that is not
// required is waited for a little only.
void WriteOwnOutput(const OwnOutput& output, const std::string& text, const std::string& what);

// The stream of the answer for the raw command line, for a failure met before (or while)
// it was parsed. Never throws: standard error when a named descriptor cannot be written.
std::FILE* OwnOutputStream(const std::vector<std::string>& arguments);

}  // namespace qtool

#endif  // QUORLIN_TOOL_OWN_OUTPUT_H
