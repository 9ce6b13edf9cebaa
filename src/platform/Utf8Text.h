// UTF-8, the text of the C interface, to and from the library's wide text (UTF-16 on
// Windows, UTF-32 on Linux), through the one codec (Utf8Codec.h). One policy per platform:
// on Windows names are UTF-16 and the text must be UTF-8; on Linux names are bytes, and
// every byte string is carried exactly.
#ifndef QUORLIN_PLATFORM_UTF8_TEXT_H
#define QUORLIN_PLATFORM_UTF8_TEXT_H

#include <string>

namespace quorlin {

// Replaces `wide` with `text` (null-terminated) and returns true; returns false, leaving
// `wide` unspecified, when the platform's wide text cannot carry it: on Windows text that
// is not well-formed UTF-8. On Linux always true: a byte that is not UTF-8 becomes
// U+DC80-U+DCFF, so a name in bytes names the same file in wide text.
bool WideFromUtf8(const char* text, std::wstring& wide);

// Text for people (report and trace lines) in well-formed UTF-8: a unit that is no
// character (an unpaired surrogate, a byte's escape) becomes U+FFFD.
// Throws (std::bad_alloc, std::length_error) when the text cannot be held.
std::string Utf8FromWide(const std::wstring& wide);

// A path for the host. On Linux its very bytes (the escapes U+DC80-U+DCFF become their
// bytes again; a unit with no byte form, which no path of the platform holds, U+FFFD); on
// Windows as Utf8FromWide. Throws as Utf8FromWide.
std::string Utf8PathFromWide(const std::wstring& wide);

}  // namespace quorlin

#endif  // QUORLIN_PLATFORM_UTF8_TEXT_H
