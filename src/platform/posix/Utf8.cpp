#include "platform/posix/Utf8.h"

#include <cerrno>
#include <cstdint>

namespace quorlin {

namespace {

const uint32_t kReplacement = 0xFFFD;

bool IsCharacter(uint32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

// Copies the run of ASCII that starts at in[i], eight at a time, to out[n]; advances both.
template <typename In, typename Out>
void CopyAscii(const In* in, size_t count, size_t& i, Out* out, size_t& n) {
    while (i + 8 <= count) {
        bool ascii = true;
        for (size_t k = 0; k < 8; ++k)
            ascii = ascii && static_cast<uint32_t>(in[i + k]) < 0x80;
        if (!ascii)
            return;
        for (size_t k = 0; k < 8; ++k)
            out[n + k] = static_cast<Out>(in[i + k]);
        i += 8;
        n += 8;
    }
}

// `text` as UTF-8 into `out`; with `exact`, stops at the first unit that is no character.
bool Encode(const wchar_t* text, size_t units, bool exact, std::string& out) {
    out.resize(units * 4);
    char* o = &out[0];
    size_t n = 0;
    for (size_t i = 0; i < units; ++i) {
        CopyAscii(text, units, i, o, n);
        if (i == units)
            break;
        uint32_t c = static_cast<uint32_t>(text[i]);
        if (c < 0x80) {
            o[n++] = static_cast<char>(c);
            continue;
        }
        if (!IsCharacter(c)) {
            if (exact)
                return false;
            c = kReplacement;
        }
        if (c < 0x800) {
            o[n++] = static_cast<char>(0xC0 | (c >> 6));
            o[n++] = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            o[n++] = static_cast<char>(0xE0 | (c >> 12));
            o[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            o[n++] = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            o[n++] = static_cast<char>(0xF0 | (c >> 18));
            o[n++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            o[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            o[n++] = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    out.resize(n);
    return true;
}

// The character that starts at p[i] into `c`; its length in bytes, 0 when malformed.
size_t DecodeOne(const unsigned char* p, size_t i, size_t bytes, uint32_t& c) {
    const unsigned char lead = p[i];
    size_t extra = 0;
    uint32_t minimum = 0;
    if (lead < 0x80) {
        c = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1, c = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, c = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, c = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (i + extra >= bytes)
        return 0;
    for (size_t k = 1; k <= extra; ++k) {
        if ((p[i + k] & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (p[i + k] & 0x3F);
    }
    return c < minimum || !IsCharacter(c) ? 0 : extra + 1;
}

// `text` as wide text into `out`; with `exact`, stops at the first malformed sequence.
bool Decode(const char* text, size_t bytes, bool exact, std::wstring& out) {
    out.resize(bytes);  // never more units than bytes
    wchar_t* o = &out[0];
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    size_t n = 0;
    for (size_t i = 0; i < bytes;) {
        CopyAscii(p, bytes, i, o, n);
        if (i == bytes)
            break;
        uint32_t c = p[i];
        size_t length = c < 0x80 ? 1 : DecodeOne(p, i, bytes, c);
        if (length == 0) {
            if (exact)
                return false;
            c = kReplacement;
            length = 1;
        }
        o[n++] = static_cast<wchar_t>(c);
        i += length;
    }
    out.resize(n);
    return true;
}

}  // namespace

std::string ToUtf8(const wchar_t* text, size_t units) {
    std::string out;
    Encode(text, units, false, out);
    return out;
}

std::wstring FromUtf8(const char* text, size_t bytes) {
    std::wstring out;
    Decode(text, bytes, false, out);
    return out;
}

int ToUtf8Exact(const wchar_t* text, size_t units, std::string& out) {
    return Encode(text, units, true, out) ? 0 : EILSEQ;
}

int FromUtf8Exact(const char* text, size_t bytes, std::wstring& out) {
    return Decode(text, bytes, true, out) ? 0 : EILSEQ;
}

}  // namespace quorlin
