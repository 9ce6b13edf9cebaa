// UTF-8 and wide text on POSIX, where wide text is UTF-32.
#include "platform/Utf8Text.h"

#include "platform/posix/Utf8.h"

#include <cstring>

namespace quorlin {

// Well-formed UTF-8 decodes and encodes back to the same bytes; a malformed
// sequence comes back as U+FFFD's three bytes instead, which differ from it.
bool WideFromUtf8(const char* text, std::wstring& wide) {
    const size_t bytes = std::strlen(text);
    wide = FromUtf8(text, bytes);
    return ToUtf8(wide).compare(0, std::string::npos, text, bytes) == 0;
}

std::string Utf8FromWide(const std::wstring& wide) { return ToUtf8(wide); }

}  // namespace quorlin
