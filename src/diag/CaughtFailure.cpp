#include "diag/CaughtFailure.h"

#include "diag/Trace.h"

#include <new>

namespace quorlin {

CaughtFailure CaughtFailure::TakeCurrent() noexcept {
    CaughtFailure failure;
    try {
        throw;
    } catch (CComException* com) {
        failure.com_.reset(com);
    } catch (CQuorlinException* quorlin) {
        failure.quorlin_.reset(quorlin);
    } catch (const std::bad_alloc&) {
        failure.outOfMemory_ = true;
    } catch (...) {
    }
    return failure;
}

void CaughtFailure::Report() const noexcept {
    RunDroppingFailures([this] {
        if (com_)
            TraceFailure(com_->ReportLine(), {FailureKind::kCom,
                                              static_cast<uint32_t>(com_->GetHResult()),
                                              com_->GetSourceLine(),
                                              {}});
        else if (quorlin_)
            TraceFailure(quorlin_->ReportLine(), quorlin_->Facts());
        else if (outOfMemory_)
            TraceFailure(L"There was an unexpected failure: out of memory.",
                         {FailureKind::kOutOfMemory, 0, 0, {}});
        else
            TraceFailure(L"There was an unexpected failure.", {FailureKind::kUnexpected, 0, 0, {}});
    });
}

}  // namespace quorlin
