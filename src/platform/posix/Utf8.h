// Names and text on POSIX, where they are bytes and wide text is UTF-32: every byte string
// crosses into wide text and back without loss, a byte that is not UTF-8 as U+DC80-U+DCFF
// (Utf8Codec.h), so that a file's name in wide text names that very file.
#ifndef QUORLIN_PLATFORM_POSIX_UTF8_H
#define QUORLIN_PLATFORM_POSIX_UTF8_H

#include <cstddef>
#include <string>

namespace quorlin {

// `text` as wide text, every byte kept.
std::wstring FromUtf8(const char* text, size_t bytes);
inline std::wstring FromUtf8(const std::string& text) { return FromUtf8(text.data(), text.size()); }

// The bytes of a name: 0, or EILSEQ when a unit has no byte form (a surrogate that is no
// escape, a value past U+10FFFF); nothing is substituted, and `out` is then unspecified.
int ToUtf8Exact(const wchar_t* text, size_t units, std::string& out);

// Text for people to read, as valid UTF-8: U+FFFD for each unit that is no character
// (the escapes of bytes among them).
std::string ToUtf8(const wchar_t* text, size_t units);
inline std::string ToUtf8(const std::wstring& text) { return ToUtf8(text.data(), text.size()); }

}  // namespace quorlin

#endif
