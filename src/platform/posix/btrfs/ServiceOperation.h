// The asynchronous operation object of the service (IVssAsync). Work without writers is
// done inside the call that starts it, so its operation has ended when it is handed out;
// work with writers runs on a thread of its own (OperationWorker.h) and its operation
// reports it while it runs.
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_SERVICE_OPERATION_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_SERVICE_OPERATION_H

#include "platform/posix/writers/Cancellation.h"
#include "platform/Requester.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace quorlin {

// How an operation ended: what QueryStatus returns and the status it reports. A writer
// error is QueryStatus's own result, so that the workflow reports its code and site.
struct OperationOutcome {
    HRESULT result = S_OK;
    HRESULT status = VSS_S_ASYNC_FINISHED;
};

// The ending of a piece of work: `status` as the operation's status, or a VSS writer
// error (VSS_E_WRITERERROR_*) as QueryStatus's result (its status then too).
OperationOutcome OutcomeOf(HRESULT status);

// What the operation object and the thread that does the work share.
struct OperationState {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;  // guarded by mutex
    OperationOutcome outcome;
    Cancellation cancel;

    // Records the outcome and wakes the waiters.
    void Finish(const OperationOutcome& outcome);
};

// Puts into `async` a new operation that reports `state`. S_OK, or E_OUTOFMEMORY with
// `async` empty.
HRESULT MakeServiceOperation(const std::shared_ptr<OperationState>& state,
                             ComPtr<AsyncOperation>& async);

// Puts into `async` a new operation that has ended with OutcomeOf(status). S_OK, or
// E_OUTOFMEMORY with `async` empty.
HRESULT MakeCompletedOperation(HRESULT status, ComPtr<AsyncOperation>& async);

}  // namespace quorlin

#endif
