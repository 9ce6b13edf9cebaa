// A request to stop, that a worker can wait for in poll(2) beside its pipes.
#ifndef QUORLIN_PLATFORM_POSIX_WRITERS_CANCELLATION_H
#define QUORLIN_PLATFORM_POSIX_WRITERS_CANCELLATION_H

#include "base/posix/UniqueFd.h"

#include <atomic>

namespace quorlin {

class Cancellation {
public:
    // Makes its descriptor; 0 or the errno value of the failure.
    int Open();
    // Asks the worker to stop; from any thread, any number of times.
    void Fire();
    bool Fired() const { return fired_.load(); }
    // Readable once fired; -1 before Open (poll ignores it).
    int Fd() const { return event_.Get(); }

private:
    UniqueFd event_;
    std::atomic<bool> fired_{false};
};

}  // namespace quorlin

#endif
