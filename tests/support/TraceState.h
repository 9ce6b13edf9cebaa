// Saves the module-wide trace options and restores them when it goes.
#ifndef QUORLIN_TESTS_TRACE_STATE_H
#define QUORLIN_TESTS_TRACE_STATE_H

#include "diag/TraceOptions.h"

namespace quorlin {
namespace testing {

class TraceState {
public:
    TraceState() : level_(g_traceLevel), console_(g_traceConsole) {
        g_traceLevel = 0;
        g_traceConsole = nullptr;
    }
    ~TraceState() {
        g_traceLevel = level_;
        g_traceConsole = console_;
    }
    TraceState(const TraceState&) = delete;
    TraceState& operator=(const TraceState&) = delete;

private:
    int level_;
    HANDLE console_;
};

}  // namespace testing
}  // namespace quorlin

#endif
