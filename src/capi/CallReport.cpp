#include "capi/CallReport.h"

#include "capi/quorlin/quorlin.h"

namespace quorlin {
namespace capi {

namespace {

std::wstring WithoutLineEnds(std::wstring text) {
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r'))
        text.pop_back();
    return text;
}

}  // namespace

void CallReport::Observe(const wchar_t* text, int level) noexcept {
    try {
        if (level <= TRACE_LEVEL_RESULT) {
            outcome_ = text;
            outcomeFacts_ = FailureFacts();
        } else if (level == TRACE_LEVEL_DETAIL) {
            step_ = text;  // the snapshot service's own lines are neither
            stepFacts_ = FailureFacts();
        }
    } catch (...) {
        // Out of memory: the line is lost, the call goes on.
    }
}

void CallReport::ObserveFailure(const FailureFacts& facts, int level) noexcept {
    try {
        if (level <= TRACE_LEVEL_RESULT)
            outcomeFacts_ = facts;
        else if (level == TRACE_LEVEL_DETAIL)
            stepFacts_ = facts;
    } catch (...) {
        // Out of memory: the facts are lost, the line is kept.
    }
}

bool CallReport::UsesStep(int result) const {
    return outcome_.empty() && (result == QUORLIN_WRONG_SEQUENCE || result == QUORLIN_REFUSED);
}

std::wstring CallReport::Line(int result) const {
    if (!outcome_.empty())
        return WithoutLineEnds(outcome_);
    if (UsesStep(result))
        return WithoutLineEnds(step_);
    return std::wstring();
}

const FailureFacts& CallReport::Facts(int result) const {
    static const FailureFacts kNoFacts;
    if (!outcome_.empty())
        return outcomeFacts_;
    return UsesStep(result) ? stepFacts_ : kNoFacts;
}

}  // namespace capi
}  // namespace quorlin
