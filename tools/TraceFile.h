// A temporary file that the library writes its trace lines to: the command reads
// them back to relay them and to learn why a call failed.
#ifndef QUORLIN_TOOL_TRACE_FILE_H
#define QUORLIN_TOOL_TRACE_FILE_H

#include "QuorlinTypes.h"

#include <cstdint>
#include <string>

namespace qtool {

class TraceFile {
public:
    // Creates the file, which is deleted when closed. Throws Failure when it cannot.
    TraceFile();
    ~TraceFile();
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

    // The handle to give the library as its trace console.
    HANDLE Handle() const { return handle_; }
    // What the file holds from `offset` to its end; empty when nothing more.
    std::string ReadFrom(std::uint64_t offset) const;

private:
    HANDLE handle_;
};

}  // namespace qtool

#endif  // QUORLIN_TOOL_TRACE_FILE_H
