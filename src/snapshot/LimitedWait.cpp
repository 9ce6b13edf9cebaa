#include "snapshot/LimitedWait.h"

#include "diag/Trace.h"

namespace quorlin {

namespace {

bool Pending(AsyncOperation& operation) {
    HRESULT status = VSS_S_ASYNC_PENDING;
    return operation.QueryStatus(&status, nullptr) == S_OK && status == VSS_S_ASYNC_PENDING;
}

bool EndedWith(AsyncOperation& operation, HRESULT failure) {
    HRESULT status = VSS_S_ASYNC_PENDING;
    return operation.QueryStatus(&status, nullptr) == S_OK && status == failure;
}

}  // namespace

HRESULT WaitWithin(AsyncOperation& operation, DWORD milliseconds) {
    if (milliseconds == 0)
        return operation.Wait(INFINITE);
    const HRESULT waited = operation.Wait(milliseconds);
    if (waited != S_OK || !Pending(operation))
        return waited;
    TraceDetail(L"The time limit has passed: calling Cancel");
    const HRESULT cancelled = operation.Cancel();
    if (cancelled == VSS_S_ASYNC_FINISHED)
        return S_OK;
    // An operation that failed on its own meanwhile answers Cancel with its failure: the
    // caller's QueryStatus reports that, not the limit.
    if (cancelled < 0 && EndedWith(operation, cancelled))
        return S_OK;
    return kWaitTimedOut;
}

}  // namespace quorlin
