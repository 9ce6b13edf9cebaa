#include "capi/AgentCall.h"

#include "diag/Explanation.h"
#include "diag/Trace.h"
#include "platform/Utf8Text.h"
#include "diag/CaughtFailure.h"
#include "snapshot/HostPreparation.h"

namespace quorlin {
namespace capi {

void ReportDroppingFailures(const wchar_t* line, FailureKind kind) noexcept {
    RunDroppingFailures([&] { TraceFailure(line, {kind, 0, 0, {}}); });
}

int RefuseArgument() noexcept {
    RunDroppingFailures([] { TraceRefusedArgument(); });
    return QUORLIN_REFUSED;
}

int RefuseMissingPath() noexcept {
    RunDroppingFailures([] {
        TraceFailure(L"The path does not exist.", {FailureKind::kMissingPath, kPathNotFound, 0, {}},
                     TRACE_LEVEL_DETAIL);
    });
    return QUORLIN_REFUSED;
}

void KeepReport(quorlin_agent& agent, const CallReport& report, int result) noexcept {
    const FailureFacts& facts = report.Facts(result);
    const bool com = facts.kind == FailureKind::kCom || facts.kind == FailureKind::kMissingPath;
    agent.errorCode = com ? facts.code : 0;
    agent.errorSite = com ? facts.site : 0;
    try {
        agent.report = Utf8FromWide(report.Line(result));
    } catch (...) {
        agent.report.clear();
    }
    try {
        agent.explanation = ExplainFailure(result, facts);
    } catch (...) {
        agent.explanation.clear();
    }
}

int FailCall(quorlin_agent& agent) noexcept {
    CaughtFailure::TakeCurrent();
    const bool held = agent.Holding();
    if (held)
        agent.agent.VssBackupComplete();
    agent.DropPathsUnlessHeld();
    const wchar_t* line = held ? L"The C interface ran out of memory; the backup was completed."
                               : L"The C interface ran out of memory.";
    ReportDroppingFailures(line, FailureKind::kOutOfMemory);
    return QUORLIN_FAILED;
}

}  // namespace capi
}  // namespace quorlin
