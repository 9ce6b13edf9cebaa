// What the signal handling tells the command runner: the self-pipe that the signal
// handlers write a byte to, so that a wait in poll() wakes up for a stop request or a
// child's end, and which signals a command gets back as they were.
#ifndef QUORLIN_TOOL_POSIX_WAKEUP_H
#define QUORLIN_TOOL_POSIX_WAKEUP_H

#include <csignal>

namespace qtool {

// The read end; valid once InstallStopHandlers has run.
int WakeupDescriptor();
// Empties the pipe after a wake-up.
void DrainWakeup();
// The signal that requested the stop, 0 while none has.
int StopSignalNumber();
// The signals that quorlin ignores but that were not ignored when it started: a command
// gets them back as they were.
const sigset_t& SignalsIgnoredHere();
// While `leave`, Ctrl-C (SIGINT) is no stop request: the terminal gives it to the command
// in its foreground too, and the command decides.
void LeaveInterruptsToCommand(bool leave);

}  // namespace qtool

#endif  // QUORLIN_TOOL_POSIX_WAKEUP_H
