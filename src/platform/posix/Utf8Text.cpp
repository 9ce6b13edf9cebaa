// UTF-8 and wide text on POSIX, where names are bytes and wide text is UTF-32.
#include "platform/Utf8Text.h"

#include "platform/posix/Utf8.h"

#include <cstring>

namespace quorlin {

bool WideFromUtf8(const char* text, std::wstring& wide) {
    wide = FromUtf8(text, std::strlen(text));
    return true;
}

std::string Utf8FromWide(const std::wstring& wide) { return ToUtf8(wide); }

std::string Utf8PathFromWide(const std::wstring& wide) {
    std::string bytes;
    return ToUtf8Exact(wide.data(), wide.size(), bytes) == 0 ? bytes : ToUtf8(wide);
}

}  // namespace quorlin
