// The frame of every C call on an agent that returns a result: a null agent is
// refused, nothing escapes, and the call's report line is kept on the agent.
#ifndef QUORLIN_CAPI_AGENT_CALL_H
#define QUORLIN_CAPI_AGENT_CALL_H

#include "capi/CAgent.h"
#include "capi/CallReport.h"

#include <string>

namespace quorlin {
namespace capi {

// Traces the report line of the call's failure `kind` (TraceFailure); a console that
// refuses the line does not fail the call.
void ReportDroppingFailures(const wchar_t* line, FailureKind kind) noexcept;

// Refuses an argument of the C call: the class's refusal step line, QUORLIN_REFUSED.
int RefuseArgument() noexcept;

// Refuses a start call for a path that names nothing: the step line "The path does not
// exist.", QUORLIN_REFUSED.
int RefuseMissingPath() noexcept;

// Stores the report line of a call that ended with `result` on the agent.
void KeepReport(quorlin_agent& agent, const CallReport& report, int result) noexcept;

// What a C call does when something escapes its body (memory ran out), inside the
// catch handler: the failure is freed, a held backup is completed (so that
// QUORLIN_FAILED means what it always means), and a report line says so.
int FailCall(quorlin_agent& agent) noexcept;

// Runs `body(agent)` as one call on `agent`.
template <class Body>
int AgentCall(quorlin_agent* agent, Body&& body) noexcept {
    if (agent == nullptr)
        return QUORLIN_REFUSED;
    CallReport report;
    int result;
    try {
        result = body(*agent);
    } catch (...) {
        result = FailCall(*agent);
    }
    KeepReport(*agent, report, result);
    return result;
}

}  // namespace capi
}  // namespace quorlin

#endif  // QUORLIN_CAPI_AGENT_CALL_H
