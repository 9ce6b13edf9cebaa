// Conversions between wide text and the 8-bit code pages, and the one exact
// comparison of wide strings.
#ifndef QUORLIN_TEXT_CONVERSION_H
#define QUORLIN_TEXT_CONVERSION_H

#include <cstddef>
#include <memory>
#include <string>

namespace quorlin {

// Text in the OEM code page: `size` bytes (at most one per input unit), not terminated.
struct OemText {
    std::unique_ptr<char[]> bytes;  // null when the conversion failed or the text is empty
    size_t size = 0;
};

// `text` in the OEM code page, or no buffer when the conversion produces nothing
// (an empty text, or one whose OEM form would need more bytes than it has units).
OemText ToOemText(const wchar_t* text);

// Replaces `result` with `text` converted from the ANSI code page.
void AnsiToString(const char* text, std::wstring& result);

// True when the two texts are equal unit by unit (case-sensitive, no normalisation).
bool IsSameText(const wchar_t* a, const wchar_t* b);

}  // namespace quorlin

#endif  // QUORLIN_TEXT_CONVERSION_H
