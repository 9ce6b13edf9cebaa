// Runs a method body of the service so that no exception leaves it: an allocation
// failure becomes E_OUTOFMEMORY, anything else E_UNEXPECTED.
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_GUARDED_CALL_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_GUARDED_CALL_H

#include "QuorlinTypes.h"

#include <new>

namespace quorlin {

template <class Body>
HRESULT GuardedCall(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace quorlin

#endif
