// The asynchronous operation object of the service. The service does its work inside
// the call that starts it, so the operation has always ended: Wait returns at once and
// QueryStatus reports the work's outcome.
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_COMPLETED_OPERATION_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_COMPLETED_OPERATION_H

#include "snapshot/Requester.h"

namespace quorlin {

// Puts into `async` a new operation whose status is `status` (VSS_S_ASYNC_FINISHED, or the
// failure). Returns S_OK, or E_OUTOFMEMORY with `async` empty.
HRESULT MakeCompletedOperation(HRESULT status, ComPtr<AsyncOperation>& async);

}  // namespace quorlin

#endif
