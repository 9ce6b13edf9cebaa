#include "platform/win32/VssOperation.h"

#include "platform/win32/VssAdapter.h"

namespace quorlin {

namespace {

class VssOperation final : public VssAdapter<AsyncOperation, IVssAsync> {
public:
    explicit VssOperation(IVssAsync* native) : VssAdapter(native) {}

    HRESULT Wait(DWORD milliseconds) override { return native_->Wait(milliseconds); }

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
