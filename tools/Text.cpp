#include "Text.h"

#include "Failure.h"

#include <codecvt>
#include <locale>
#include <type_traits>

namespace qtool {
namespace {

using Utf8Facet = std::conditional_t<sizeof(wchar_t) == 2, std::codecvt_utf8_utf16<wchar_t>,
                                     std::codecvt_utf8<wchar_t>>;

}  // namespace

std::wstring WideFromUtf8(const std::string& text) {
    try {
        return std::wstring_convert<Utf8Facet>().from_bytes(text);
    } catch (const std::range_error&) {
        throw Failure(kExitUsage, "\"" + text + "\" is not valid UTF-8; quorlin takes UTF-8 paths");
    }
}

std::string Utf8FromWide(const std::wstring& text) {
    return std::wstring_convert<Utf8Facet>("\xEF\xBF\xBD").to_bytes(text);
}

std::filesystem::path PathFromUtf8(const std::string& text) {
    return std::filesystem::u8path(text);
}

std::string Utf8FromPath(const std::filesystem::path& path) { return path.u8string(); }

}  // namespace qtool
