#include "Text.h"

#include "Failure.h"

#include <algorithm>
#include <codecvt>
#include <cstdio>
#include <locale>
#include <type_traits>

namespace qtool {
namespace {

using Utf8Facet = std::conditional_t<sizeof(wchar_t) == 2, std::codecvt_utf8_utf16<wchar_t>,
                                     std::codecvt_utf8<wchar_t>>;

}  // namespace

std::wstring WideFromUtf8(const std::string& text) {
    // A sequence cut short at the end is no error to the converter: it stops there, and
    // the path would lose its last bytes (and name another file).
    std::wstring_convert<Utf8Facet> converter;
    try {
        std::wstring wide = converter.from_bytes(text);
        if (converter.converted() == text.size())
            return wide;
    } catch (const std::range_error&) {
    }
    throw Failure(kExitUsage, "\"" + text + "\" is not valid UTF-8; quorlin takes UTF-8 paths");
}

std::string Utf8FromWide(const std::wstring& text) {
    return std::wstring_convert<Utf8Facet>("\xEF\xBF\xBD").to_bytes(text);
}

std::filesystem::path PathFromUtf8(const std::string& text) {
    return std::filesystem::u8path(text);
}

std::string Utf8FromPath(const std::filesystem::path& path) { return path.u8string(); }

std::string FieldForLine(const std::string& path) {
    auto control = [](unsigned char c) { return c < 0x20 || c == 0x7F; };
    bool plain = (path.empty() || path[0] != '"') &&
                 std::none_of(path.begin(), path.end(),
                              [&](char c) { return control(static_cast<unsigned char>(c)); });
    if (plain)
        return path;
    std::string quoted = "\"";
    for (char c : path) {
        unsigned char byte = static_cast<unsigned char>(c);
        switch (c) {
            case '\\':
                quoted += "\\\\";
                break;
            case '"':
                quoted += "\\\"";
                break;
            case '\t':
                quoted += "\\t";
                break;
            case '\n':
                quoted += "\\n";
                break;
            case '\r':
                quoted += "\\r";
                break;
            default:
                if (control(byte)) {
                    char octal[8];
                    std::snprintf(octal, sizeof octal, "\\%03o", byte);
                    quoted += octal;
                } else {
                    quoted += c;
                }
        }
    }
    return quoted + "\"";
}

std::string QuotedName(const std::string& name) {
    std::string field = FieldForLine(name);
    return field == name ? "\"" + name + "\"" : field;
}

}  // namespace qtool
