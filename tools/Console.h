// The process's text interface: its arguments and whether a stream is a terminal.
#ifndef QUORLIN_TOOL_CONSOLE_H
#define QUORLIN_TOOL_CONSOLE_H

#include <cstdio>
#include <string>
#include <vector>

namespace qtool {

// Whether the platform's file names are bytes (Linux): the command's text then carries any
// bytes exactly. Otherwise (Windows) names are UTF-16 and the command's text is UTF-8.
extern const bool kNamesAreBytes;

// The command line as UTF-8 arguments, the program name first.
std::vector<std::string> Utf8Arguments(int argc, char** argv);
// Makes standard output and standard error show UTF-8 text.
void PrepareConsole();
bool IsTerminal(std::FILE* stream);

// A stream onto the descriptor `fd`, open for writing, which the process keeps to itself
// (a COMMAND does not inherit it); the same stream for each call. Null when `fd` is not
// open for writing.
std::FILE* WritableDescriptor(int fd);

// While one lives (made `active`), what the process writes to its standard output goes to
// standard error: the library may print a line there (when it cannot enable the backup
// privilege), and beside a COMMAND standard output is the COMMAND's alone.
class StandardOutputAside {
public:
    explicit StandardOutputAside(bool active);
    ~StandardOutputAside();
    StandardOutputAside(const StandardOutputAside&) = delete;
    StandardOutputAside& operator=(const StandardOutputAside&) = delete;

private:
    int saved_;  // standard output itself, or -1
};

}  // namespace qtool

#endif  // QUORLIN_TOOL_CONSOLE_H
