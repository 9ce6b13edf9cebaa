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
            Trace(com_->ReportLine(), TRACE_LEVEL_RESULT);
        else if (quorlin_)
            Trace(quorlin_->GetMessageText(), TRACE_LEVEL_RESULT);
        else if (outOfMemory_)
            Trace(L"There was an unexpected failure: out of memory.", TRACE_LEVEL_RESULT);
        else
            Trace(L"There was an unexpected failure.", TRACE_LEVEL_RESULT);
    });
}

}  // namespace quorlin
