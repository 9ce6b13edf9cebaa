// The command line: which command, its options and its arguments.
#ifndef QUORLIN_TOOL_COMMAND_LINE_H
#define QUORLIN_TOOL_COMMAND_LINE_H

#include "Backup.h"

#include <optional>
#include <string>
#include <vector>

namespace qtool {

enum class Command { kSnapshot, kCopy, kList, kDelete };

struct Invocation {
    Command command = Command::kSnapshot;
    BackupOptions options;
    std::vector<std::string> paths;    // snapshot: the PATHs; copy: SOURCE and DEST;
                                       // list, delete: the PATH, if any
    std::string setId;                 // delete: the SET-ID; empty with --orphans
    std::vector<std::string> program;  // snapshot: the command after --, if any
    bool inPlace = false;              // snapshot --in-place
    bool oneFileSystem = false;        // --one-file-system
    bool json = false;                 // --json: answers for scripts, as one line each
    int outputFd = -1;                 // --output-fd: where the answer goes (OwnOutput.h)
};

// Known from the raw arguments even when the rest of the line is wrong: whether --json
// comes before any "--", the descriptor of --output-fd there (-1: none, or not a number),
// and whether a COMMAND follows "--".
bool JsonRequested(const std::vector<std::string>& arguments);
int OutputFdRequested(const std::vector<std::string>& arguments);
bool CommandRequested(const std::vector<std::string>& arguments);

// Parses UTF-8 arguments, the program name first. Returns nothing when it has answered
// --help or --version on standard output. Throws Failure (usage) for a bad command line.
std::optional<Invocation> ParseCommandLine(const std::vector<std::string>& arguments);

}  // namespace qtool

#endif  // QUORLIN_TOOL_COMMAND_LINE_H
