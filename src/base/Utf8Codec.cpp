#include "base/Utf8Codec.h"

#include <cstdint>

namespace quorlin {
namespace {

const char32_t kReplacement = 0xFFFD;
const char32_t kEscapeBase = 0xDC00;  // + a byte 0x80-0xFF

const bool kUtf16 = sizeof(wchar_t) == 2;

bool IsCharacter(char32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }
bool IsEscape(char32_t c) { return c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF; }
bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Copies the run of ASCII that starts at in[i], eight at a time, to out[n]; advances both.
// Names and trace lines are mostly ASCII.
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

void AppendWide(char32_t c, wchar_t* out, size_t& n) {
    if (kUtf16 && c >= 0x10000) {
        out[n++] = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
        out[n++] = static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
        out[n++] = static_cast<wchar_t>(c);
    }
}

void AppendUtf8(char32_t c, char* out, size_t& n) {
    if (c < 0x80) {
        out[n++] = static_cast<char>(c);
    } else if (c < 0x800) {
        out[n++] = static_cast<char>(0xC0 | (c >> 6));
        out[n++] = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out[n++] = static_cast<char>(0xE0 | (c >> 12));
        out[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[n++] = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out[n++] = static_cast<char>(0xF0 | (c >> 18));
        out[n++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[n++] = static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The code point of the wide unit (or surrogate pair) at text[i], and how many units it
// takes. An unpaired surrogate of UTF-16 comes back as itself.
char32_t WideAt(const wchar_t* text, size_t units, size_t i, size_t& taken) {
    const char32_t c = static_cast<uint32_t>(text[i]);
    taken = 1;
    if (kUtf16 && IsHighSurrogate(c) && i + 1 < units) {
        const char32_t low = static_cast<uint32_t>(text[i + 1]);
        if (IsLowSurrogate(low)) {
            taken = 2;
            return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    return c;
}

}  // namespace

size_t Utf8CharacterAt(const char* text, size_t bytes, size_t at, char32_t& character) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char lead = p[at];
    size_t extra = 0;
    char32_t c = 0;
    char32_t least = 0;
    if (lead < 0x80) {
        character = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1, c = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, c = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, c = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (extra >= bytes - at)
        return 0;
    for (size_t k = 1; k <= extra; ++k) {
        if ((p[at + k] & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (p[at + k] & 0x3F);
    }
    if (c < least || !IsCharacter(c))
        return 0;
    character = c;
    return extra + 1;
}

bool DecodeUtf8(const char* text, size_t bytes, Unmatched unmatched, std::wstring& wide) {
    wide.resize(bytes);  // never more units than bytes: four bytes at most make a pair
    wchar_t* out = &wide[0];
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    size_t n = 0;
    for (size_t i = 0; i < bytes;) {
        CopyAscii(p, bytes, i, out, n);
        if (i == bytes)
            break;
        char32_t c = 0;
        size_t length = Utf8CharacterAt(text, bytes, i, c);
        if (length == 0) {
            if (unmatched == Unmatched::kRefuse)
                return false;
            c = unmatched == Unmatched::kEscape ? kEscapeBase + p[i] : kReplacement;
            length = 1;
        }
        AppendWide(c, out, n);
        i += length;
    }
    wide.resize(n);
    return true;
}

bool EncodeUtf8(const wchar_t* text, size_t units, Unmatched unmatched, std::string& utf8) {
    utf8.resize(units * 4);  // a unit makes at most four bytes (a pair four for two)
    char* out = &utf8[0];
    size_t n = 0;
    for (size_t i = 0; i < units;) {
        CopyAscii(text, units, i, out, n);
        if (i == units)
            break;
        size_t taken = 1;
        const char32_t c = WideAt(text, units, i, taken);
        i += taken;
        if (IsCharacter(c)) {
            AppendUtf8(c, out, n);
        } else if (unmatched == Unmatched::kEscape && IsEscape(c)) {
            out[n++] = static_cast<char>(c - kEscapeBase);
        } else if (unmatched == Unmatched::kReplace) {
            AppendUtf8(kReplacement, out, n);
        } else {
            return false;
        }
    }
    utf8.resize(n);
    return true;
}

}  // namespace quorlin
