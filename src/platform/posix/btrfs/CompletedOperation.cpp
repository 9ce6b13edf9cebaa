#include "platform/posix/btrfs/CompletedOperation.h"

#include "platform/posix/btrfs/RefCounted.h"

namespace quorlin {

namespace {

class CompletedOperation : public RefCounted<AsyncOperation> {
public:
    explicit CompletedOperation(HRESULT status) : status_(status) {}

    HRESULT Wait(DWORD) override { return S_OK; }

    HRESULT QueryStatus(HRESULT* status, int* reserved) override {
        if (status == nullptr || reserved != nullptr)
            return E_INVALIDARG;
        *status = status_;
        return S_OK;
    }

private:
    const HRESULT status_;
};

}  // namespace

HRESULT MakeCompletedOperation(HRESULT status, ComPtr<AsyncOperation>& async) {
    return CreateCounted<CompletedOperation>(async, status);
}

}  // namespace quorlin
