// Relays the library's trace lines as they are written (to standard error under -v)
// and keeps the last one, which after a failed call is the library's report line.
#ifndef QUORLIN_TOOL_TRACE_RELAY_H
#define QUORLIN_TOOL_TRACE_RELAY_H

#include "TracePipe.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace qtool {

class TraceRelay {
public:
    // `shown`: where to copy the trace as it arrives, or null to keep it to ourselves.
    // Starts the thread that drains the pipe as it fills, so that the library's writes
    // wait at most for `shown` to take the lines.
    // Throws Failure when the pipe cannot be made.
    explicit TraceRelay(std::FILE* shown);
    // Closes the library's end and waits for the reader to copy what is left.
    ~TraceRelay();
    TraceRelay(const TraceRelay&) = delete;
    TraceRelay& operator=(const TraceRelay&) = delete;

    // The trace console to hand to the library.
    HANDLE Console() const { return pipe_.WriteEnd(); }
    // Waits until the reader has taken in (and shown) every line traced so far, and
    // returns the last non-empty line traced since the last call (empty when none).
    std::string Collect();

private:
    void Drain();
    // Adds the bytes of `chunk` meant for `shown_` to `out`, without the mark and with
    // the library's "\r\n" line ends as "\n" for the C library's stream.
    void AddShown(const char* chunk, std::size_t size, std::string& out);

    TracePipe pipe_;
    std::FILE* shown_;
    bool returnHeld_ = false;  // the reader's: a '\r' not yet known to end a line

    std::mutex mutex_;
    std::condition_variable progress_;
    std::string text_;  // traced since the last Collect
    unsigned long marksRead_ = 0;
    bool ended_ = false;           // the reader has seen the end of the pipe
    unsigned long marksSent_ = 0;  // the caller's

    std::thread reader_;  // last, so that it starts once the rest is ready
};

}  // namespace qtool

#endif  // QUORLIN_TOOL_TRACE_RELAY_H
