// The process's text interface: its arguments and whether a stream is a terminal.
#ifndef QUORLIN_TOOL_CONSOLE_H
#define QUORLIN_TOOL_CONSOLE_H

#include <cstdio>
#include <string>
#include <vector>

namespace qtool {

// The command line as UTF-8 arguments, the program name first.
std::vector<std::string> Utf8Arguments(int argc, char** argv);
// Makes standard output and standard error show UTF-8 text.
void PrepareConsole();
bool IsTerminal(std::FILE* stream);

}  // namespace qtool

#endif  // QUORLIN_TOOL_CONSOLE_H
