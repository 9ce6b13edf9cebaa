// The event that a stop request sets, for waits that must end on one.
#ifndef QUORLIN_TOOL_WIN32_STOP_EVENT_H
#define QUORLIN_TOOL_WIN32_STOP_EVENT_H

#include <windows.h>

namespace qtool {

// A manual-reset event; valid once InstallStopHandlers has run.
HANDLE StopEvent();

}  // namespace qtool

#endif  // QUORLIN_TOOL_WIN32_STOP_EVENT_H
