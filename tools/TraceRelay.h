// Relays the library's trace lines to standard error (under -v) and keeps the last
// one, which after a failed call is the library's report line.
#ifndef QUORLIN_TOOL_TRACE_RELAY_H
#define QUORLIN_TOOL_TRACE_RELAY_H

#include "TraceFile.h"

#include <cstdint>
#include <string>

namespace qtool {

class TraceRelay {
public:
    // `show`: copy the lines to standard error.
    explicit TraceRelay(bool show) : show_(show) {}

    // The trace console to hand to the library.
    HANDLE Console() const { return file_.Handle(); }
    // Takes the lines traced since the last call, shows them when asked to and returns
    // the last non-empty one (empty when there is none).
    std::string Collect();

private:
    TraceFile file_;
    bool show_;
    std::uint64_t offset_ = 0;
};

}  // namespace qtool

#endif  // QUORLIN_TOOL_TRACE_RELAY_H
