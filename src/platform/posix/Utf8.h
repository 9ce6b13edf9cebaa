// Wide text (UTF-32 on Linux) to and from UTF-8, the encoding of file names.
#ifndef QUORLIN_PLATFORM_POSIX_UTF8_H
#define QUORLIN_PLATFORM_POSIX_UTF8_H

#include <cstddef>
#include <string>

namespace quorlin {

std::string ToUtf8(const wchar_t* text, size_t units);
inline std::string ToUtf8(const std::wstring& text) { return ToUtf8(text.data(), text.size()); }
// Malformed sequences become U+FFFD, one per byte that cannot start a character.
std::wstring FromUtf8(const char* text, size_t bytes);
inline std::wstring FromUtf8(const std::string& text) { return FromUtf8(text.data(), text.size()); }

}  // namespace quorlin

#endif
