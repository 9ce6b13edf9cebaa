// What to try, for the failures whose remedy depends on the platform.
// Each answer is a clause that completes a sentence, without a final full stop.
#ifndef QUORLIN_TOOL_ADVICE_H
#define QUORLIN_TOOL_ADVICE_H

namespace qtool {

// The volume cannot be snapshotted.
const char* UnsupportedVolumeAdvice();
// Whether quorlin holds the rights that snapshots need (root or CAP_SYS_ADMIN on Linux,
// an elevated administrator on Windows).
bool HoldsSnapshotRights();
// The snapshot service denied access; `privileged`: quorlin holds those rights, so the
// denial has another reason than its own.
const char* AccessDeniedCause(bool privileged);
const char* AccessDeniedAdvice(bool privileged);
// The volume is read-only.
const char* ReadOnlyVolumeAdvice();
// The snapshot service is missing or not running.
const char* ServiceMissingAdvice();
// The snapshot could not be taken, for a reason that the report does not tell.
const char* SnapshotFailedAdvice();

}  // namespace qtool

#endif  // QUORLIN_TOOL_ADVICE_H
