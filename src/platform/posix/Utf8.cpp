#include "platform/posix/Utf8.h"

#include "base/Utf8Codec.h"

#include <cerrno>

namespace quorlin {

std::wstring FromUtf8(const char* text, size_t bytes) {
    std::wstring wide;
    DecodeUtf8(text, bytes, Unmatched::kEscape, wide);
    return wide;
}

int ToUtf8Exact(const wchar_t* text, size_t units, std::string& out) {
    return EncodeUtf8(text, units, Unmatched::kEscape, out) ? 0 : EILSEQ;
}

std::string ToUtf8(const wchar_t* text, size_t units) {
    std::string out;
    EncodeUtf8(text, units, Unmatched::kReplace, out);
    return out;
}

}  // namespace quorlin
