#include "text/Format.h"

#include <vector>

namespace quorlin {

namespace {

void AppendDecimal(std::wstring& out, int32_t value) {
    int64_t v = value;
    if (v < 0) {
        out += L'-';
        v = -v;
    }
    wchar_t digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<wchar_t>(L'0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (n > 0)
        out += digits[--n];
}

void AppendHex(std::wstring& out, uint32_t value) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    wchar_t digits[8];
    int n = 0;
    do {
        digits[n++] = kDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    while (n > 0)
        out += digits[--n];
}

}  // namespace

std::wstring FormatText(const wchar_t* format, std::initializer_list<FormatArg> args) {
    std::wstring out;
    const FormatArg* next = args.begin();
    for (const wchar_t* p = format; *p != L'\0'; ++p) {
        if (*p != L'%') {
            out += *p;
            continue;
        }
        const wchar_t* conversion = p + 1;
        if (*conversion == L'%') {
            out += L'%';
            p = conversion;
            continue;
        }
        if (*conversion == L'0')
            ++conversion;  // "%0x": a zero flag without a width pads nothing
        if (*conversion != L's' && *conversion != L'd' && *conversion != L'x') {
            out += *p;  // not a conversion of ours: keep the text as it stands
            continue;
        }
        p = conversion;
        if (next == args.end())
            continue;
        const FormatArg& arg = *next++;
        if (*conversion == L's') {
            if (arg.Text())
                out += arg.Text();
        } else if (!arg.Text()) {
            if (*conversion == L'd')
                AppendDecimal(out, arg.Number());
            else
                AppendHex(out, static_cast<uint32_t>(arg.Number()));
        }
    }
    return out;
}

}  // namespace quorlin
