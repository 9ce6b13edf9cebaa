// Stop requests: Ctrl-C, SIGTERM and SIGHUP on Linux; Ctrl-C, Ctrl-Break and closing the
// console on Windows. A request does not end the process: the command sees it, completes
// the backup (which deletes the snapshots) and exits. Further requests change nothing.
#ifndef QUORLIN_TOOL_STOP_SIGNAL_H
#define QUORLIN_TOOL_STOP_SIGNAL_H

namespace qtool {

// Catches the stop requests from now on. Throws Failure when it cannot.
void InstallStopHandlers();
bool StopRequested();
// Blocks until a line (Enter) arrives on standard input or a stop is requested. Once
// standard input has ended, only a stop request ends the wait.
void WaitForEnterOrStop();
// Says that the command has cleaned up: a handler of the console closing, which Windows
// lets run only until it returns, may now let the process end.
void StopHandled();

}  // namespace qtool

#endif  // QUORLIN_TOOL_STOP_SIGNAL_H
