#include "platform/posix/btrfs/ServiceOperation.h"

#include "platform/posix/btrfs/GuardedCall.h"
#include "platform/posix/btrfs/RefCounted.h"

#include <chrono>

namespace quorlin {

namespace {

class ServiceOperation : public RefCounted<AsyncOperation> {
public:
    explicit ServiceOperation(std::shared_ptr<OperationState> state) : state_(std::move(state)) {}

    HRESULT Wait(DWORD milliseconds) override {
        return GuardedCall([&] {
            std::unique_lock<std::mutex> lock(state_->mutex);
            if (milliseconds == INFINITE)
                state_->ended.wait(lock, [&] { return state_->done; });
            else
                state_->ended.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                       [&] { return state_->done; });
            return S_OK;
        });
    }

    HRESULT QueryStatus(HRESULT* status, int* reserved) override {
        if (status == nullptr || reserved != nullptr)
            return E_INVALIDARG;
        return GuardedCall([&] {
            std::lock_guard<std::mutex> lock(state_->mutex);
            *status = state_->done ? state_->outcome.status : VSS_S_ASYNC_PENDING;
            return state_->done ? state_->outcome.result : S_OK;
        });
    }

    HRESULT Cancel() override {
        return GuardedCall([&] {
            std::unique_lock<std::mutex> lock(state_->mutex);
            if (!state_->done) {
                state_->cancel.Fire();
                state_->ended.wait(lock, [&] { return state_->done; });
                if (state_->outcome.status == VSS_S_ASYNC_CANCELLED)
                    return S_OK;
            }
            return state_->outcome.status == VSS_S_ASYNC_CANCELLED ? VSS_S_ASYNC_CANCELLED
                                                                   : VSS_S_ASYNC_FINISHED;
        });
    }

private:
    const std::shared_ptr<OperationState> state_;
};

bool IsWriterError(HRESULT status) {
    return status == VSS_E_WRITERERROR_TIMEOUT || status == VSS_E_WRITERERROR_RETRYABLE ||
           status == VSS_E_WRITERERROR_NONRETRYABLE;
}

}  // namespace

OperationOutcome OutcomeOf(HRESULT status) {
    OperationOutcome outcome;
    outcome.status = status;
    outcome.result = IsWriterError(status) ? status : S_OK;
    return outcome;
}

void OperationState::Finish(const OperationOutcome& ending) {
    std::lock_guard<std::mutex> lock(mutex);
    outcome = ending;
    done = true;
    ended.notify_all();
}

HRESULT MakeServiceOperation(const std::shared_ptr<OperationState>& state,
                             ComPtr<AsyncOperation>& async) {
    return CreateCounted<ServiceOperation>(async, state);
}

HRESULT MakeCompletedOperation(HRESULT status, ComPtr<AsyncOperation>& async) {
    return GuardedCall([&] {
        const auto state = std::make_shared<OperationState>();
        state->outcome = OutcomeOf(status);
        state->done = true;
        return MakeServiceOperation(state, async);
    });
}

}  // namespace quorlin
