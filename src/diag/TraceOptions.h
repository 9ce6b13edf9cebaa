// The trace options: module-wide, shared by every agent of the loaded module.
#ifndef QUORLIN_DIAG_TRACE_OPTIONS_H
#define QUORLIN_DIAG_TRACE_OPTIONS_H

#include "QuorlinTypes.h"

namespace quorlin {

extern int g_traceLevel;       // trace verbosity; 0 at load
extern HANDLE g_traceConsole;  // host's console or file for trace lines; none at load

// Stores `level` as the trace verbosity, unchecked.
void SetTraceLevel(int level);

}  // namespace quorlin

#endif  // QUORLIN_DIAG_TRACE_OPTIONS_H
