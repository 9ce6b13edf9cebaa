#include "Retry.h"

#include "Diagnosis.h"
#include "Quorlin.h"
#include "StopSignal.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace qtool {

bool IsRetryableFailure(int result, unsigned long code) {
    if (result != QUORLIN_RESULT_FAILED)
        return false;
    switch (code) {
        case 0x80042316:  // VSS_E_SNAPSHOT_SET_IN_PROGRESS
        case 0x800423F3:  // VSS_E_WRITERERROR_RETRYABLE
        case 0x80042313:  // VSS_E_FLUSH_WRITES_TIMEOUT
        case 0x80042314:  // VSS_E_HOLD_WRITES_TIMEOUT
            return true;
        default:
            return false;
    }
}

int RetryDelaySeconds(int retry) {
    const int kLongest = 30;
    return retry >= 6 ? kLongest : 1 << (retry - 1);
}

bool WaitToRetry(int retry, int retries, int result, unsigned long code,
                 const std::string& explanation) {
    if (retry > retries || !IsRetryableFailure(result, code))
        return false;
    const int seconds = RetryDelaySeconds(retry);
    std::fprintf(stderr, "quorlin: %s Trying again in %d s (retry %d of %d).\n",
                 ExplanationInLine(explanation).c_str(), seconds, retry, retries);
    std::fflush(stderr);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < until) {
        if (StopRequested())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return !StopRequested();
}

}  // namespace qtool
