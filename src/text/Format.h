// printf-style formatting of wide text with the conversions the module's
// messages use: %s (wide text), %d (signed decimal), %x and %0x (unsigned
// lower-case hexadecimal, no leading zeros), and %%. It behaves the same on
// every platform, unlike the C library's wide printf family, whose %s differs.
#ifndef QUORLIN_TEXT_FORMAT_H
#define QUORLIN_TEXT_FORMAT_H

#include <cstdint>
#include <initializer_list>
#include <string>

namespace quorlin {

class FormatArg {
public:
    FormatArg(const wchar_t* text) : text_(text ? text : L"(null)") {}
    FormatArg(const std::wstring& text) : text_(text.c_str()) {}
    FormatArg(int32_t number) : number_(number) {}
    FormatArg(uint32_t number) : number_(static_cast<int32_t>(number)) {}
    FormatArg(long number) : number_(static_cast<int32_t>(number)) {}
    FormatArg(unsigned long number) : number_(static_cast<int32_t>(number)) {}

    const wchar_t* Text() const { return text_; }
    int32_t Number() const { return number_; }

private:
    const wchar_t* text_ = nullptr;
    int32_t number_ = 0;
};

// Formats `format` with `args` in order. A conversion whose argument is missing or of the
// other kind prints nothing.
std::wstring FormatText(const wchar_t* format, std::initializer_list<FormatArg> args);

}  // namespace quorlin

#endif  // QUORLIN_TEXT_FORMAT_H
