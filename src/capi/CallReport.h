// The report of one call through the C interface: it watches the lines that the
// call traces on its thread, whatever the verbosity, and keeps the one a host
// needs to learn why the call ended as it did, with the facts the library recorded
// for it. Every outcome line and refusal reason is written on that thread; the lines
// that the snapshot service writes on a thread of its own (on Linux: a writer's
// failure, before the call's report line) are the service's, and reach the host
// through the trace.
#ifndef QUORLIN_CAPI_CALL_REPORT_H
#define QUORLIN_CAPI_CALL_REPORT_H

#include "diag/FailureFacts.h"
#include "diag/Trace.h"

#include <string>

namespace quorlin {
namespace capi {

class CallReport final : public TraceObserver {
public:
    void Observe(const wchar_t* text, int level) noexcept override;
    void ObserveFailure(const FailureFacts& facts, int level) noexcept override;

    // The call's last outcome line; for a refusal (99, 100) without one, its last
    // step line, which names the reason. Without line ends; empty when there is none.
    std::wstring Line(int result) const;
    // The facts of that line; kNone when it told of no failure.
    const FailureFacts& Facts(int result) const;

private:
    bool UsesStep(int result) const;

    std::wstring outcome_;
    FailureFacts outcomeFacts_;
    std::wstring step_;
    FailureFacts stepFacts_;
};

}  // namespace capi
}  // namespace quorlin

#endif  // QUORLIN_CAPI_CALL_REPORT_H
