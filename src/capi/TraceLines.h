// Trace lines to a host's callback: UTF-8, one call per line, no line ends.
#ifndef QUORLIN_CAPI_TRACE_LINES_H
#define QUORLIN_CAPI_TRACE_LINES_H

#include "capi/quorlin/quorlin.h"

namespace quorlin {
namespace capi {

// Sends `text` to `callback` as lines: the text without its trailing line ends, split
// at each CR LF, LF or CR; an empty text is one empty line. Drops whatever fails or
// escapes the callback.
void SendTraceLines(quorlin_trace_callback callback, void* context, const wchar_t* text) noexcept;

}  // namespace capi
}  // namespace quorlin

#endif  // QUORLIN_CAPI_TRACE_LINES_H
