// Text at the library's boundary: the command works in UTF-8, the library in wchar_t
// (UTF-16 on Windows, UTF-32 on Linux). On Linux, where names are bytes, the command's
// "UTF-8" is any bytes: a byte that is not UTF-8 crosses as U+DC80-U+DCFF and comes back
// as itself (Utf8Codec.h), so every name reaches the library and comes back exactly.
#ifndef QUORLIN_TOOL_TEXT_H
#define QUORLIN_TOOL_TEXT_H

#include <filesystem>
#include <string>

namespace qtool {

// Throws Failure (usage) when `text` is not valid UTF-8 (on Windows only).
std::wstring WideFromUtf8(const std::string& text);
// A unit that has no UTF-8 form (on Windows an unpaired surrogate) becomes U+FFFD.
std::string Utf8FromWide(const std::wstring& text);

std::filesystem::path PathFromUtf8(const std::string& text);
std::string Utf8FromPath(const std::filesystem::path& path);

// A path as one field of a line of output: as it is, unless it holds a control character
// (a newline or a tab among them) or begins with a double quote. Then it is quoted as C
// quotes a string: in double quotes, with \\, \", \t, \n and \r, and \ooo (three octal
// digits) for the other control characters.
std::string FieldForLine(const std::string& path);
// A name inside a sentence: in double quotes, quoted as FieldForLine quotes it.
std::string QuotedName(const std::string& name);

}  // namespace qtool

#endif  // QUORLIN_TOOL_TEXT_H
