#include "platform/posix/btrfs/Guid.h"

#include <cerrno>
#include <sys/random.h>

namespace quorlin {

int NewRandomGuid(GUID& guid) {
    uint8_t bytes[16];
    size_t filled = 0;
    while (filled < sizeof bytes) {
        const ssize_t n = getrandom(bytes + filled, sizeof bytes - filled, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        filled += static_cast<size_t>(n);
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    guid = GuidFromBytes(bytes);
    return 0;
}

}  // namespace quorlin
