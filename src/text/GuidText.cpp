#include "text/GuidText.h"

namespace quorlin {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

GUID GuidFromBytes(const uint8_t (&bytes)[16]) {
    GUID guid;
    guid.Data1 = (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) |
                 (uint32_t(bytes[2]) << 8) | bytes[3];
    guid.Data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
    guid.Data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
    for (int i = 0; i < 8; ++i)
        guid.Data4[i] = bytes[8 + i];
    return guid;
}

namespace {

// The inverse of GuidFromBytes.
void BytesFromGuid(const GUID& guid, uint8_t (&bytes)[16]) {
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<uint8_t>(guid.Data1 >> (24 - 8 * i));
    bytes[4] = static_cast<uint8_t>(guid.Data2 >> 8);
    bytes[5] = static_cast<uint8_t>(guid.Data2);
    bytes[6] = static_cast<uint8_t>(guid.Data3 >> 8);
    bytes[7] = static_cast<uint8_t>(guid.Data3);
    for (int i = 0; i < 8; ++i)
        bytes[8 + i] = guid.Data4[i];
}

}  // namespace

// Written by hand: the service names a snapshot's path with it at every
// GetSnapshotProperties, and snprintf costs many times more.
std::string GuidText(const GUID& guid) {
    static const char kDigits[] = "0123456789abcdef";
    uint8_t bytes[16];
    BytesFromGuid(guid, bytes);
    char text[36];
    size_t n = 0;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text[n++] = '-';
        text[n++] = kDigits[bytes[i] >> 4];
        text[n++] = kDigits[bytes[i] & 0x0F];
    }
    return std::string(text, sizeof text);
}

bool ParseGuid(const std::string& text, GUID& guid) {
    if (text.size() != 36)
        return false;
    uint8_t bytes[16];
    size_t next = 0;
    for (size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-')
                return false;
            ++i;
            continue;
        }
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes[next++] = static_cast<uint8_t>(high * 16 + low);
        i += 2;
    }
    guid = GuidFromBytes(bytes);
    return true;
}

}  // namespace quorlin
