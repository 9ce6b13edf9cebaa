#include "platform/win32/VssOperation.h"

#include "platform/win32/VssAdapter.h"

#include <windows.h>

#include <algorithm>
#include <chrono>

namespace quorlin {

namespace {

// Polls start often, for the short steps, and slow down to this pace.
const DWORD kLongestPauseMs = 20;

// VSS before Windows Vista accepts only INFINITE for Wait, so a limited wait polls
// QueryStatus instead: S_OK once the operation has ended or `milliseconds` have passed,
// as Wait answers. A failed QueryStatus ends it too, for the caller's own to report.
HRESULT PollUntilEnded(IVssAsync& native, DWORD milliseconds) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    DWORD pause = 1;
    for (;;) {
        HRESULT status = VSS_S_ASYNC_PENDING;
        if (native.QueryStatus(&status, nullptr) != S_OK || status != VSS_S_ASYNC_PENDING)
            return S_OK;
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return S_OK;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
        ::Sleep(static_cast<DWORD>(std::min<long long>(pause, left)));
        pause = std::min(pause * 2, kLongestPauseMs);
    }
}

class VssOperation final : public VssAdapter<AsyncOperation, IVssAsync> {
public:
    explicit VssOperation(IVssAsync* native) : VssAdapter(native) {}

    HRESULT Wait(DWORD milliseconds) override {
        if (milliseconds == INFINITE)
            return native_->Wait(INFINITE);
        return PollUntilEnded(*native_, milliseconds);
    }

    HRESULT QueryStatus(HRESULT* status, int* reserved) override {
        return native_->QueryStatus(status, reserved);
    }

    HRESULT Cancel() override { return native_->Cancel(); }
};

}  // namespace

HRESULT AdoptVssOperation(HRESULT hr, IVssAsync* native, ComPtr<AsyncOperation>& operation) {
    operation.Reset();
    if (native == nullptr)
        return hr;
    try {
        operation = ComPtr<AsyncOperation>::Adopt(new VssOperation(native));
    } catch (...) {
        native->Release();
        throw;
    }
    return hr;
}

}  // namespace quorlin
