// Saves the module-wide trace options and restores them when it goes.
#ifndef QUORLIN_TESTS_TRACE_STATE_H
#define QUORLIN_TESTS_TRACE_STATE_H

#include "diag/TraceOptions.h"

#include <cstdint>

namespace quorlin {
namespace testing {

// A console handle for the tests: the fake host keeps what is written to it.
inline HANDLE TestConsole() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(42)); }

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
