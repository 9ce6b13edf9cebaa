// UTF-8 to and from wide text: the one codec of the library and of the command. Wide text
// is UTF-16 where wchar_t has 16 bits (Windows) and UTF-32 where it has 32 (Linux).
//
// What has no counterpart on the other side (bytes that are not UTF-8, units that are no
// character: an unpaired surrogate, a value past U+10FFFF) is refused, replaced, or, for
// names that are bytes, escaped: a byte 0x80-0xFF that is no part of a valid UTF-8
// sequence becomes the unit U+DC80-U+DCFF (0xDC00 + the byte) and back, as Python's
// "surrogateescape" carries such names. Valid UTF-8 never decodes to those units, so
// bytes -> wide -> bytes gives back the very bytes.
#ifndef QUORLIN_BASE_UTF8_CODEC_H
#define QUORLIN_BASE_UTF8_CODEC_H

#include <cstddef>
#include <string>

namespace quorlin {

enum class Unmatched {
    kRefuse,   // the conversion fails
    kReplace,  // U+FFFD stands for each byte that is no part of a character, or each unit
    kEscape,   // bytes <-> U+DC80-U+DCFF; a unit that is neither a character nor such an
               // escape has no byte form and is refused
};

// The character encoded at text[at] (at < bytes) into `character`, and its length in bytes;
// 0 when the bytes there are not valid UTF-8 (overlong forms, surrogates and values past
// U+10FFFF are not), which makes text[at] a byte that belongs to no character.
size_t Utf8CharacterAt(const char* text, size_t bytes, size_t at, char32_t& character);

// `bytes` bytes of `text` as wide text into `wide`; false (with `wide` unspecified) when a
// byte belongs to no character and `unmatched` is kRefuse.
bool DecodeUtf8(const char* text, size_t bytes, Unmatched unmatched, std::wstring& wide);

// `units` units of `text` as UTF-8 into `utf8`; false (with `utf8` unspecified) when a unit
// has no UTF-8 form that `unmatched` allows.
bool EncodeUtf8(const wchar_t* text, size_t units, Unmatched unmatched, std::string& utf8);

}  // namespace quorlin

#endif  // QUORLIN_BASE_UTF8_CODEC_H
