#include "snapshot/LimitedWait.h"

#include "diag/Trace.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace quorlin {

namespace {

using Clock = std::chrono::steady_clock;

// Polls start often, for the short steps, and slow down to this pace.
const std::chrono::milliseconds kLongestPause(100);

bool Pending(AsyncOperation& operation) {
    HRESULT status = VSS_S_ASYNC_PENDING;
    return operation.QueryStatus(&status, nullptr) == S_OK && status == VSS_S_ASYNC_PENDING;
}

}  // namespace

HRESULT WaitWithin(AsyncOperation& operation, DWORD milliseconds) {
    if (milliseconds == 0)
        return operation.Wait(INFINITE);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    std::chrono::milliseconds pause(1);
    while (Pending(operation)) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            TraceDetail(L"The time limit has passed: calling Cancel");
            return operation.Cancel() == VSS_S_ASYNC_FINISHED ? S_OK : kWaitTimedOut;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, kLongestPause);
    }
    return S_OK;
}

}  // namespace quorlin
