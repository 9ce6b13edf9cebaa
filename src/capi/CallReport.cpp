#include "capi/CallReport.h"

#include "capi/quorlin/quorlin.h"

#include <cwchar>

namespace quorlin {
namespace capi {

namespace {

const wchar_t kComFailure[] = L"There was a COM failure 0x";

std::wstring WithoutLineEnds(std::wstring text) {
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r'))
        text.pop_back();
    return text;
}

// The value of the digits text[begin, end) in `base`; false when there are none,
// another character, or more than `limit`.
bool ParseNumber(const std::wstring& text, size_t begin, size_t end, unsigned base,
                 unsigned long limit, unsigned long& value) {
    if (begin >= end)
        return false;
    value = 0;
    for (size_t i = begin; i < end; ++i) {
        const wchar_t c = text[i];
        unsigned digit;
        if (c >= L'0' && c <= L'9')
            digit = static_cast<unsigned>(c - L'0');
        else if (base == 16 && c >= L'a' && c <= L'f')
            digit = static_cast<unsigned>(c - L'a' + 10);
        else
            return false;
        if (value > (limit - digit) / base)
            return false;
        value = value * base + digit;
    }
    return true;
}

}  // namespace

void CallReport::Observe(const wchar_t* text, int level) noexcept {
    try {
        if (level <= TRACE_LEVEL_RESULT)
            outcome_ = text;
        else if (level == TRACE_LEVEL_DETAIL)
            step_ = text;  // the snapshot service's own lines are neither
    } catch (...) {
        // Out of memory: the line is lost, the call goes on.
    }
}

std::wstring CallReport::Line(int result) const {
    if (!outcome_.empty())
        return WithoutLineEnds(outcome_);
    if (result == QUORLIN_WRONG_SEQUENCE || result == QUORLIN_REFUSED)
        return WithoutLineEnds(step_);
    return std::wstring();
}

bool ParseComFailure(const std::wstring& line, unsigned long& code, int& site) {
    const size_t prefix = std::wcslen(kComFailure);
    if (line.compare(0, prefix, kComFailure) != 0)
        return false;
    const size_t codeEnd = line.find(L' ', prefix);
    const size_t siteBegin = line.rfind(L" (");
    if (codeEnd == std::wstring::npos || siteBegin == std::wstring::npos || siteBegin < codeEnd ||
        line.back() != L')')
        return false;
    unsigned long parsedCode = 0;
    unsigned long parsedSite = 0;
    if (!ParseNumber(line, prefix, codeEnd, 16, 0xFFFFFFFFul, parsedCode) ||
        !ParseNumber(line, siteBegin + 2, line.size() - 1, 10, 0x7FFFFFFFul, parsedSite))
        return false;
    code = parsedCode;
    site = static_cast<int>(parsedSite);
    return true;
}

}  // namespace capi
}  // namespace quorlin
