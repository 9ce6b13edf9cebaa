// --retry N: another try, after a short and growing wait, when the snapshot service
// refused for a reason that passes by itself.
#ifndef QUORLIN_TOOL_RETRY_H
#define QUORLIN_TOOL_RETRY_H

#include <string>

namespace qtool {

// Whether a failed start (the library's `result` and the code of its COM failure) may
// succeed when tried again. Only refusals that pass by themselves count: another snapshot set being
// created (0x80042316, VSS takes one at a time), a writer that says its failure would not
// recur (0x800423F3), and the flush or hold of writes timing out under load (0x80042313,
// 0x80042314). Everything else would fail the same way again.
bool IsRetryableFailure(int result, unsigned long code);

// The wait before retry `retry` (1, 2, ...) in seconds: 1, 2, 4, ... up to 30.
int RetryDelaySeconds(int retry);

// After failed try `retry` (1, 2, ...) out of 1 + `retries`: says on standard error why
// (the library's explanation) and when it tries again, and waits. False, at once, when no retry is
// left or the failure is not retryable; false too when a stop is requested during the wait.
bool WaitToRetry(int retry, int retries, int result, unsigned long code,
                 const std::string& explanation);

}  // namespace qtool

#endif  // QUORLIN_TOOL_RETRY_H
