// Relays the library's trace lines as they are written (to standard error under -v)
// and keeps the last one, which after a failed call is the library's report line.
#ifndef QUORLIN_TOOL_TRACE_RELAY_H
#define QUORLIN_TOOL_TRACE_RELAY_H

#include "PhaseTimes.h"
#include "TracePipe.h"

#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace qtool {

class TraceRelay {
public:
    // `shown`: where to copy the trace as it arrives, or null to keep it to ourselves.
    // One thread drains the pipe into memory as it fills, and another shows what it
    // took, so that the library's writes never wait for `shown`, even when it stalls.
    // Throws Failure when the pipe cannot be made. Each line is stamped when its first
    // byte reaches the reader; `stamped`: each shown line ends with the time since the
    // line before (the first: since the relay was made).
    explicit TraceRelay(std::FILE* shown, bool stamped = false);
    // Closes the library's end and waits for the reader to take what is left, and a
    // little for it to be shown; an output that stalls is left behind.
    ~TraceRelay();
    TraceRelay(const TraceRelay&) = delete;
    TraceRelay& operator=(const TraceRelay&) = delete;

    // The trace console to hand to the library.
    HANDLE Console() const { return pipe_.WriteEnd(); }
    // Waits until the reader has taken in every line traced so far (and until they are
    // shown, unless the output stalls), and returns the last non-empty line traced since
    // the last call (empty when none).
    std::string Collect();
    // Every non-empty line traced so far, with its stamp. Call it after Collect.
    std::vector<TracedLine> Lines();
    // Puts a line of the command's own among the library's, as if the library had traced
    // it: stamped and shown the same way, and never waiting for a stalled output.
    void Insert(const std::string& line);

private:
    struct Shared;  // between the caller, the reader and the thread that shows

    void Drain();

    TracePipe pipe_;
    std::shared_ptr<Shared> shared_;
    unsigned long marksSent_ = 0;  // the caller's
    std::thread shower_;
    std::thread reader_;  // last, so that it starts once the rest is ready
};

}  // namespace qtool

#endif  // QUORLIN_TOOL_TRACE_RELAY_H
