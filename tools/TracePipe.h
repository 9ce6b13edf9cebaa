// The pipe that carries the library's trace lines to the command: the library writes
// to its write end as to a console, and a reader thread of the command drains it.
#ifndef QUORLIN_TOOL_TRACE_PIPE_H
#define QUORLIN_TOOL_TRACE_PIPE_H

#include "QuorlinTypes.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace qtool {

class TracePipe {
public:
    // Creates the pipe; neither end is inherited by a child process. Throws Failure when
    // it cannot.
    TracePipe();
    // Closes whichever ends are still open.
    ~TracePipe();
    TracePipe(const TracePipe&) = delete;
    TracePipe& operator=(const TracePipe&) = delete;

    // The handle to give the library as its trace console.
    HANDLE WriteEnd() const { return write_; }
    // Writes all of `data`; false when the pipe refused it.
    bool Write(const char* data, std::size_t size);
    // Waits for bytes and reads up to `size` of them; 0 once the write end is closed.
    std::size_t Read(char* buffer, std::size_t size);
    // Closes the write end, so that Read ends after the bytes still in the pipe.
    void CloseWriteEnd();

private:
    HANDLE read_;
    HANDLE write_;
    bool writeOpen_ = true;
};

// A stream's own descriptor (Linux) or handle (Windows), written to without the C
// library's stream and its lock, so that a thread that hangs on a stalled output holds
// nothing that others need. It stays open as long as this object, whatever becomes of
// the stream.
class RawOutput {
public:
    // Nothing is written when `stream` is null.
    explicit RawOutput(std::FILE* stream);
    ~RawOutput();
    RawOutput(const RawOutput&) = delete;
    RawOutput& operator=(const RawOutput&) = delete;

    // Writes all of `data`; false when the output refused it (closed, or gone).
    bool Write(const char* data, std::size_t size);

private:
    std::intptr_t handle_;
};

}  // namespace qtool

#endif  // QUORLIN_TOOL_TRACE_PIPE_H
