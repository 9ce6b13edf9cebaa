// The preparation steps of the start calls, before any VSS work. Apart from the
// platform refusal they only trace what is wrong and let the call go on.
#ifndef QUORLIN_SNAPSHOT_HOST_PREPARATION_H
#define QUORLIN_SNAPSHOT_HOST_PREPARATION_H

namespace quorlin {

// Step lines of the refusals and the calling-sequence warnings.
extern const wchar_t kInvalidParameter[];
extern const wchar_t kWrongSequenceComplete[];  // a backup is held at a start call
extern const wchar_t kWrongSequenceStart[];     // no backup is held at completion

// The refusal of a missing or malformed argument: its step line, with its facts.
void TraceRefusedArgument();

// True, after its step line, when the platform check refuses this system.
bool RefusedPlatform();

// The single-path start calls' first steps: the entry marker straight to the
// debugger output, then the platform and missing-path refusals. True, after the
// refusal's step line, when the call is refused.
bool RefusedSinglePathStart(const wchar_t* sourcePath);

// Checks the snapshot filter registration; traces when it is missing.
void CheckFilterRegistration();

// Sets the process's COM security and enables the backup privilege; traces what fails.
void SetSecurityAndPrivilege();

}  // namespace quorlin

#endif
