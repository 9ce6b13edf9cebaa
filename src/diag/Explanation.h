// What a failed call means and what to try, in English, for every host: the C
// interface hands it out, the command prints it after what it attempted.
#ifndef QUORLIN_DIAG_EXPLANATION_H
#define QUORLIN_DIAG_EXPLANATION_H

#include "diag/FailureFacts.h"

#include <cstdint>
#include <string>

namespace quorlin {

// The explanation of a call that ended with `result` (the C interface's results) after
// the failure `facts`: one or more sentences in UTF-8, each ending with a full stop.
// Empty for a call that succeeded (result 0).
std::string ExplainFailure(int result, const FailureFacts& facts);

// The explanation of a bare failure code (an HRESULT) that a call answered without a
// report line: a static text, empty for a code that has none of its own.
const char* ExplainCode(uint32_t code);

// What to try for the failures whose remedy depends on the platform, each a clause that
// completes a sentence, without a final full stop (the platform's FailureAdvice.cpp).
namespace advice {
// The volume cannot be snapshotted.
const char* UnsupportedVolume();
// Whether the process holds the rights that snapshots need (root or CAP_SYS_ADMIN on
// Linux, an elevated administrator on Windows).
bool HoldsSnapshotRights();
// The snapshot service denied access; `privileged`: the process holds those rights, so
// the denial has another reason than its own.
const char* AccessDeniedCause(bool privileged);
const char* AccessDeniedAdvice(bool privileged);
// The volume is read-only.
const char* ReadOnlyVolume();
// The snapshot service is missing or not running.
const char* ServiceMissing();
// The snapshot could not be taken, for a reason that the report does not tell.
const char* SnapshotFailed();
}  // namespace advice

}  // namespace quorlin

#endif  // QUORLIN_DIAG_EXPLANATION_H
