// UTF-8 and wide text on Windows: through UTF-16 with the system's own
// conversions, never through the ANSI code page.
#include "platform/Utf8Text.h"

#include "QuorlinTypes.h"

#include <climits>
#include <cstring>
#include <stdexcept>

namespace quorlin {

bool WideFromUtf8(const char* text, std::wstring& wide) {
    wide.clear();
    const size_t bytes = std::strlen(text);
    if (bytes == 0)
        return true;
    if (bytes > INT_MAX)
        return false;
    const int length = static_cast<int>(bytes);
    const int units =
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, length, nullptr, 0);
    if (units <= 0)
        return false;
    wide.resize(static_cast<size_t>(units));
    return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, length, &wide[0], units) ==
           units;
}

// Each UTF-16 unit becomes at most three bytes, so the byte count fits an int.
std::string Utf8FromWide(const std::wstring& wide) {
    std::string text;
    if (wide.empty())
        return text;
    if (wide.size() > INT_MAX / 3)
        throw std::length_error("text too long for UTF-8");
    const int units = static_cast<int>(wide.size());
    const int bytes =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        throw std::length_error("text not convertible to UTF-8");
    text.resize(static_cast<size_t>(bytes));
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, &text[0], bytes, nullptr, nullptr);
    return text;
}

}  // namespace quorlin
