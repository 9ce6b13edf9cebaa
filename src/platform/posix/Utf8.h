// Wide text (UTF-32 on Linux) to and from UTF-8, the encoding of file names.
#ifndef QUORLIN_PLATFORM_POSIX_UTF8_H
#define QUORLIN_PLATFORM_POSIX_UTF8_H

#include <cstddef>
#include <string>

namespace quorlin {

// Units that are no character (surrogates, values past U+10FFFF) become U+FFFD.
std::string ToUtf8(const wchar_t* text, size_t units);
inline std::string ToUtf8(const std::wstring& text) { return ToUtf8(text.data(), text.size()); }
// Malformed sequences become U+FFFD, one per byte that cannot start a character.
std::wstring FromUtf8(const char* text, size_t bytes);
inline std::wstring FromUtf8(const std::string& text) { return FromUtf8(text.data(), text.size()); }

// The same conversions for names that must arrive unchanged: 0, or EILSEQ when `text`
// holds what has no counterpart on the other side (nothing is substituted; `out` is
// then left unspecified).
int ToUtf8Exact(const wchar_t* text, size_t units, std::string& out);
int FromUtf8Exact(const char* text, size_t bytes, std::wstring& out);
inline int FromUtf8Exact(const std::string& text, std::wstring& out) {
    return FromUtf8Exact(text.data(), text.size(), out);
}

}  // namespace quorlin

#endif
