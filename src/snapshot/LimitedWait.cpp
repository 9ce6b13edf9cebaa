#include "snapshot/LimitedWait.h"

#include "diag/Trace.h"

namespace quorlin {

namespace {

bool Pending(AsyncOperation& operation) {
    HRESULT status = VSS_S_ASYNC_PENDING;
    return operation.QueryStatus(&status, nullptr) == S_OK && status == VSS_S_ASYNC_PENDING;
}

}  // namespace

HRESULT WaitWithin(AsyncOperation& operation, DWORD milliseconds) {
    if (milliseconds == 0)
        return operation.Wait(INFINITE);
    const HRESULT waited = operation.Wait(milliseconds);
    if (waited != S_OK || !Pending(operation))
        return waited;
    TraceDetail(L"The time limit has passed: calling Cancel");
    return operation.Cancel() == VSS_S_ASYNC_FINISHED ? S_OK : kWaitTimedOut;
}

}  // namespace quorlin
