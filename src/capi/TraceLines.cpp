#include "capi/TraceLines.h"

#include "platform/Utf8Text.h"

#include <string>

namespace quorlin {
namespace capi {

void SendTraceLines(quorlin_trace_callback callback, void* context, const wchar_t* text) noexcept {
    try {
        std::string lines = Utf8FromWide(text);
        while (!lines.empty() && (lines.back() == '\n' || lines.back() == '\r'))
            lines.pop_back();
        size_t start = 0;
        for (;;) {
            const size_t end = lines.find_first_of("\r\n", start);
            callback(context, lines.substr(start, end - start).c_str());
            if (end == std::string::npos)
                return;
            start = end + (lines.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        }
    } catch (...) {
        // Out of memory, or a host's callback that raised: the line is lost.
    }
}

}  // namespace capi
}  // namespace quorlin
