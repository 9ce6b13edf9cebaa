// The self-pipe that the signal handlers write a byte to, so that a wait in poll()
// wakes up for a stop request or a child's end.
#ifndef QUORLIN_TOOL_POSIX_WAKEUP_H
#define QUORLIN_TOOL_POSIX_WAKEUP_H

namespace qtool {

// The read end; valid once InstallStopHandlers has run.
int WakeupDescriptor();
// Empties the pipe after a wake-up.
void DrainWakeup();
// The signal that requested the stop, 0 while none has.
int StopSignalNumber();

}  // namespace qtool

#endif  // QUORLIN_TOOL_POSIX_WAKEUP_H
