#include "Text.h"

#include "Console.h"
#include "Failure.h"
#include "base/Utf8Codec.h"

#include <algorithm>
#include <cstdio>

namespace qtool {

using quorlin::Unmatched;

std::wstring WideFromUtf8(const std::string& text) {
    std::wstring wide;
    if (quorlin::DecodeUtf8(text.data(), text.size(),
                            kNamesAreBytes ? Unmatched::kEscape : Unmatched::kRefuse, wide))
        return wide;
    throw Failure(kExitUsage, "\"" + text + "\" is not valid UTF-8; quorlin takes UTF-8 paths");
}

std::string Utf8FromWide(const std::wstring& text) {
    std::string bytes;
    if (!kNamesAreBytes ||
        !quorlin::EncodeUtf8(text.data(), text.size(), Unmatched::kEscape, bytes))
        quorlin::EncodeUtf8(text.data(), text.size(), Unmatched::kReplace, bytes);
    return bytes;
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
