#include "Quorlin.h"
#include "Retry.h"

#include <gtest/gtest.h>

namespace qtool {
namespace {

TEST(Retry, OnlyRefusalsThatPassByThemselvesAreTriedAgain) {
    const struct {
        int result;
        const char* report;
        bool retryable;
    } cases[] = {
        {1, "There was a COM failure 0x80042316 - .\\QuorlinClass (505)", true},
        {1, "There was a COM failure 0x800423f3 - .\\QuorlinClass (335)", true},
        {1, "There was a COM failure 0x80042313 - .\\QuorlinClass (335)", true},
        {1, "There was a COM failure 0x80042314 - .\\QuorlinClass (335)", true},
        {1, "There was a COM failure 0x800423f4 - .\\QuorlinClass (335)", false},
        {1, "There was a COM failure 0x80070005 - .\\QuorlinClass (570)", false},
        {1, "There was a COM failure 0x8004231f - .\\QuorlinClass (572)", false},
        {1, "DoSnapshotSet failed.", false},
        {1, "", false},
        {QUORLIN_RESULT_WRONG_SEQUENCE, "There was a COM failure 0x80042316 - x", false},
        {QUORLIN_RESULT_REFUSED, "There was a COM failure 0x80042316 - x", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.retryable, IsRetryableFailure(c.result, c.report)) << c.report;
        EXPECT_FALSE(WaitToRetry(1, 0, c.result, c.report)) << "no retry left: no wait";
    }
}

TEST(Retry, WaitsGrowUpToHalfAMinute) {
    const int expected[] = {1, 2, 4, 8, 16, 30, 30, 30};
    for (int retry = 1; retry <= 8; ++retry)
        EXPECT_EQ(expected[retry - 1], RetryDelaySeconds(retry)) << retry;
}

}  // namespace
}  // namespace qtool
