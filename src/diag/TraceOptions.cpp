#include "diag/TraceOptions.h"

namespace quorlin {

int g_traceLevel = 0;
HANDLE g_traceConsole = nullptr;

void SetTraceLevel(int level) { g_traceLevel = level; }

}  // namespace quorlin
