#include "platform/posix/writers/Cancellation.h"

#include <cerrno>
#include <cstdint>
#include <sys/eventfd.h>

namespace quorlin {

int Cancellation::Open() {
    event_.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    return event_.Valid() ? 0 : errno;
}

void Cancellation::Fire() {
    fired_.store(true);
    const uint64_t one = 1;
    if (event_.Valid())
        (void)!::write(event_.Get(), &one, sizeof one);  // a full counter is readable anyway
}

}  // namespace quorlin
