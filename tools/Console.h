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

}  // namespace qtool

#endif  // QUORLIN_TOOL_CONSOLE_H
