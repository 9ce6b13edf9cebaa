// Waiting for an asynchronous operation within a time limit.
#ifndef QUORLIN_SNAPSHOT_LIMITED_WAIT_H
#define QUORLIN_SNAPSHOT_LIMITED_WAIT_H

#include "platform/Requester.h"

namespace quorlin {

// What a wait that ran past its limit fails with: HRESULT_FROM_WIN32(ERROR_TIMEOUT). VSS
// itself has no failure code for a requester's own limit: a cancelled operation only
// reports the success status VSS_S_ASYNC_CANCELLED, and VSS_E_WRITERERROR_TIMEOUT
// (0x800423f2) already says that a writer missed VSS's own bound. Windows words this code
// "This operation returned because the timeout period expired."
const HRESULT kWaitTimedOut = static_cast<HRESULT>(0x800705B4);

// Waits until `operation` has ended. With `milliseconds` 0 that is Wait(INFINITE), exactly
// as without a limit. Otherwise Wait(milliseconds); when the operation is still pending
// after it, it is cancelled and the answer is kWaitTimedOut, unless Cancel answers that
// it had just finished, or answers with the failure that the operation has ended with
// meanwhile (then S_OK, for the caller's QueryStatus to report). A failed Wait's answer is returned
// as it is; a failed QueryStatus counts as ended, for the caller's own QueryStatus to report.
HRESULT WaitWithin(AsyncOperation& operation, DWORD milliseconds);

}  // namespace quorlin

#endif  // QUORLIN_SNAPSHOT_LIMITED_WAIT_H
