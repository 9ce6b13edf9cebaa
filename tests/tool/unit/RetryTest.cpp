#include "Quorlin.h"
#include "Retry.h"

#include <gtest/gtest.h>

namespace qtool {
namespace {

TEST(Retry, OnlyRefusalsThatPassByThemselvesAreTriedAgain) {
    const struct {
        int result;
        unsigned long code;  // of the COM failure; 0: the report line was another
        bool retryable;
    } cases[] = {
        {1, 0x80042316, true},
        {1, 0x800423F3, true},
        {1, 0x80042313, true},
        {1, 0x80042314, true},
        {1, 0x800423F4, false},
        {1, 0x80070005, false},
        {1, 0x8004231F, false},
        {1, 0, false},
        {QUORLIN_RESULT_WRONG_SEQUENCE, 0x80042316, false},
        {QUORLIN_RESULT_REFUSED, 0x80042316, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.retryable, IsRetryableFailure(c.result, c.code)) << std::hex << c.code;
        EXPECT_FALSE(WaitToRetry(1, 0, c.result, c.code, "Why.")) << "no retry left: no wait";
    }
}

TEST(Retry, WaitsGrowUpToHalfAMinute) {
    const int expected[] = {1, 2, 4, 8, 16, 30, 30, 30};
    for (int retry = 1; retry <= 8; ++retry)
        EXPECT_EQ(expected[retry - 1], RetryDelaySeconds(retry)) << retry;
}

}  // namespace
}  // namespace qtool
