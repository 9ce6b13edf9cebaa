// The requester seam's asynchronous operation over IVssAsync.
#ifndef QUORLIN_PLATFORM_WIN32_VSS_OPERATION_H
#define QUORLIN_PLATFORM_WIN32_VSS_OPERATION_H

#include "platform/Requester.h"

#include <vss.h>

namespace quorlin {

// Puts an adapter over `native` (which may be null) into `operation`, taking over
// the caller's reference to it. Returns `hr`, the answer of the call that made it.
// Throws std::bad_alloc, after releasing `native`, when the adapter cannot be made.
HRESULT AdoptVssOperation(HRESULT hr, IVssAsync* native, ComPtr<AsyncOperation>& operation);

}  // namespace quorlin

#endif  // QUORLIN_PLATFORM_WIN32_VSS_OPERATION_H
