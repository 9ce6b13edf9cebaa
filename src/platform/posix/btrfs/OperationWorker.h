// Work of the service that runs on a thread of its own while the host waits for it through
// its asynchronous operation: Wait honours its limit, QueryStatus answers
// VSS_S_ASYNC_PENDING while the work runs, Cancel stops it. One piece of work at a time.
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_OPERATION_WORKER_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_OPERATION_WORKER_H

#include "platform/posix/btrfs/ServiceOperation.h"

#include <functional>
#include <memory>
#include <thread>

namespace quorlin {

class OperationWorker {
public:
    // The work: its final status (OutcomeOf), given the cancellation to watch. What it
    // throws becomes its status as GuardedCall makes it.
    using Work = std::function<HRESULT(const Cancellation& cancel)>;

    OperationWorker() = default;
    OperationWorker(const OperationWorker&) = delete;
    OperationWorker& operator=(const OperationWorker&) = delete;
    ~OperationWorker() { Stop(); }

    // Starts `work` on a new thread that blocks every signal (they are the host's threads'
    // to take), and puts into `async` an operation that reports it. S_OK, or the failure
    // (E_OUTOFMEMORY, or the errno result) with nothing started and `async` empty.
    // A previous piece of work must have ended (Busy() false).
    HRESULT Start(Work work, ComPtr<AsyncOperation>& async);
    // Whether work has started and not ended.
    bool Busy() const;
    // Cancels the work that runs, if any, and waits for its thread to end.
    void Stop();

private:
    std::shared_ptr<OperationState> state_;
    std::thread thread_;
};

}  // namespace quorlin

#endif
