// UTF-8, the text of the C interface, to and from the library's wide text
// (UTF-16 on Windows, UTF-32 on Linux). One implementation per platform.
#ifndef QUORLIN_PLATFORM_UTF8_TEXT_H
#define QUORLIN_PLATFORM_UTF8_TEXT_H

#include <string>

namespace quorlin {

// Replaces `wide` with `text` (null-terminated UTF-8) and returns true; returns false,
// leaving `wide` unspecified, when `text` is not well-formed UTF-8.
bool WideFromUtf8(const char* text, std::wstring& wide);

// `wide` in UTF-8. A unit that is no character (an unpaired surrogate) becomes U+FFFD.
// Throws (std::bad_alloc, std::length_error) when the text cannot be held.
std::string Utf8FromWide(const std::wstring& wide);

}  // namespace quorlin

#endif  // QUORLIN_PLATFORM_UTF8_TEXT_H
