#include "capi/AgentCall.h"

#include "diag/Trace.h"
#include "platform/Utf8Text.h"
#include "diag/CaughtFailure.h"
#include "snapshot/HostPreparation.h"

namespace quorlin {
namespace capi {

void TraceDroppingFailures(const wchar_t* text, int level) noexcept {
    RunDroppingFailures([&] { Trace(text, level); });
}

int RefuseArgument() noexcept {
    TraceDroppingFailures(kInvalidParameter, TRACE_LEVEL_DETAIL);
    return QUORLIN_REFUSED;
}

void KeepReport(quorlin_agent& agent, const CallReport& report, int result) noexcept {
    agent.errorCode = 0;
    agent.errorSite = 0;
    try {
        const std::wstring line = report.Line(result);
        agent.report = Utf8FromWide(line);
        ParseComFailure(line, agent.errorCode, agent.errorSite);
    } catch (...) {
        agent.report.clear();
    }
}

int FailCall(quorlin_agent& agent) noexcept {
    CaughtFailure::TakeCurrent();
    const bool held = agent.Holding();
    if (held)
        agent.agent.VssBackupComplete();
    agent.DropPathsUnlessHeld();
    TraceDroppingFailures(held ? L"The C interface ran out of memory; the backup was completed."
                               : L"The C interface ran out of memory.",
                          TRACE_LEVEL_RESULT);
    return QUORLIN_FAILED;
}

}  // namespace capi
}  // namespace quorlin
