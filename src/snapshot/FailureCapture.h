// The failure capture of the exported entry points. Nothing raised inside an
// entry point leaves it: a failure becomes QUORLIN_RESULT_FAILED, and every
// exception object raised by pointer is freed.
//
// An entry point runs its body through RunEntryPoint. The body marks where its
// protected region begins (and, for completion, where it ends). A failure inside
// the region first runs the agent's clean-up, then writes the report line of a
// CComException or CQuorlinException at TRACE_LEVEL_RESULT. A failure outside the
// region (a console write in the preparation steps, an allocation failure) has
// nothing to clean up and no report line: it only becomes the result. A failure
// raised by the clean-up or by the report line itself is dropped.
#ifndef QUORLIN_SNAPSHOT_FAILURE_CAPTURE_H
#define QUORLIN_SNAPSHOT_FAILURE_CAPTURE_H

#include "Quorlin.h"
#include "diag/Exceptions.h"

#include <memory>

namespace quorlin {

class EntryCapture {
public:
    // From here on a failure runs the clean-up before it is reported.
    void EnterProtectedRegion() noexcept { inside_ = true; }
    // The protected work is over; a later failure cleans up nothing more.
    void LeaveProtectedRegion() noexcept { inside_ = false; }
    bool InsideProtectedRegion() const noexcept { return inside_; }

private:
    bool inside_ = false;
};

// The exception being handled, sorted and owned: the two pointer types are
// deleted with this object; anything else is left to the runtime.
class CaughtFailure {
public:
    // Must be called inside a catch handler.
    static CaughtFailure TakeCurrent() noexcept;
    // Writes the report line of a CComException or CQuorlinException, or the plain
    // line of an unexpected failure, with its facts (TraceFailure).
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

// Runs one entry point: `body(capture)` gives the result; `cleanup()` is the
// agent's clean-up with the values its fields hold when a failure arrives.
template <class Cleanup, class Body>
int RunEntryPoint(Cleanup&& cleanup, Body&& body) noexcept {
    EntryCapture capture;
    try {
        return body(capture);
    } catch (...) {
        const CaughtFailure failure = CaughtFailure::TakeCurrent();
        if (capture.InsideProtectedRegion()) {
            RunDroppingFailures(cleanup);
            failure.Report();
        }
        return QUORLIN_RESULT_FAILED;
    }
}

}  // namespace quorlin

#endif  // QUORLIN_SNAPSHOT_FAILURE_CAPTURE_H
