#include "platform/posix/btrfs/OperationWorker.h"

#include "platform/posix/btrfs/ErrnoResult.h"
#include "platform/posix/btrfs/GuardedCall.h"

#include <csignal>
#include <pthread.h>
#include <exception>

namespace quorlin {

HRESULT OperationWorker::Start(Work work, ComPtr<AsyncOperation>& async) {
    async.Reset();
    Stop();  // joins the thread of work that has ended
    return GuardedCall([&] {
        auto state = std::make_shared<OperationState>();
        const int error = state->cancel.Open();
        if (error != 0)
            return ReportErrno("opening a cancellation for", "an operation", error);
        ComPtr<AsyncOperation> operation;
        HRESULT hr = MakeServiceOperation(state, operation);
        if (hr != S_OK)
            return hr;
        sigset_t all, previous;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &previous);
        std::exception_ptr failure;
        try {
            thread_ = std::thread([state, work] {
                const HRESULT status = GuardedCall([&] { return work(state->cancel); });
                state->Finish(OutcomeOf(status));
            });
        } catch (...) {
            failure = std::current_exception();
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        if (failure)
            std::rethrow_exception(failure);  // GuardedCall makes it a result
        state_ = std::move(state);
        async = std::move(operation);
        return S_OK;
    });
}

bool OperationWorker::Busy() const {
    if (!state_)
        return false;
    std::lock_guard<std::mutex> lock(state_->mutex);
    return !state_->done;
}

void OperationWorker::Stop() {
    if (state_ && Busy())
        state_->cancel.Fire();
    if (thread_.joinable())
        thread_.join();
    state_.reset();
}

}  // namespace quorlin
