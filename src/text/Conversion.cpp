#include "text/Conversion.h"

#include "platform/Platform.h"

#include <cstring>
#include <cwchar>
#include <vector>

namespace quorlin {

OemText ToOemText(const wchar_t* text) {
    OemText result;
    const size_t units = std::wcslen(text);
    std::unique_ptr<char[]> buffer(new char[units + 1]);
    const size_t produced = GetHost().WideToOem(text, units, buffer.get(), units);
    if (produced == 0 || produced > units)
        return result;
    result.bytes = std::move(buffer);
    result.size = produced;
    return result;
}

void AnsiToString(const char* text, std::wstring& result) {
    const size_t bytes = std::strlen(text);
    std::vector<wchar_t> wide(bytes + 1);  // throws rather than allocating too little
    size_t produced = GetHost().AnsiToWide(text, bytes, wide.data(), bytes);
    if (produced > bytes)
        produced = 0;
    result.assign(wide.data(), produced);
}

bool IsSameText(const wchar_t* a, const wchar_t* b) { return std::wcscmp(a, b) == 0; }

}  // namespace quorlin
