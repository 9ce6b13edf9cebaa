// UTF-8 and wide text on Windows, where names are UTF-16: text from the host must be
// UTF-8, and an unpaired surrogate, which UTF-8 cannot carry, goes out as U+FFFD. These
// are the answers of MultiByteToWideChar with MB_ERR_INVALID_CHARS and of
// WideCharToMultiByte, never of the ANSI code page.
#include "platform/Utf8Text.h"

#include "base/Utf8Codec.h"

#include <cstring>

namespace quorlin {

bool WideFromUtf8(const char* text, std::wstring& wide) {
    return DecodeUtf8(text, std::strlen(text), Unmatched::kRefuse, wide);
}

std::string Utf8FromWide(const std::wstring& wide) {
    std::string text;
    EncodeUtf8(wide.data(), wide.size(), Unmatched::kReplace, text);
    return text;
}

std::string Utf8PathFromWide(const std::wstring& wide) { return Utf8FromWide(wide); }

}  // namespace quorlin
