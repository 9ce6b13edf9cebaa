// What a failure that must go no further leaves: the exception being handled is taken,
// sorted and freed, and its report line can be written. The entry points (and the
// service threads, which run no entry point) drop what they may not let out through it.
#ifndef QUORLIN_DIAG_CAUGHT_FAILURE_H
#define QUORLIN_DIAG_CAUGHT_FAILURE_H

#include "diag/Exceptions.h"

#include <memory>

namespace quorlin {

// The exception being handled, sorted and owned: the two pointer types are
// deleted with this object; anything else is left to the runtime.
class CaughtFailure {
public:
    // Must be called inside a catch handler.
    static CaughtFailure TakeCurrent() noexcept;
    // Writes the report line of a CComException or CQuorlinException, or the plain
    // line of an unexpected failure.
    void Report() const noexcept;

private:
    std::unique_ptr<CComException> com_;
    std::unique_ptr<CQuorlinException> quorlin_;
    bool outOfMemory_ = false;
};

// Runs `action` and drops whatever it raises.
template <class Action>
void RunDroppingFailures(Action&& action) noexcept {
    try {
        action();
    } catch (...) {
        CaughtFailure::TakeCurrent();
    }
}

}  // namespace quorlin

#endif  // QUORLIN_DIAG_CAUGHT_FAILURE_H
