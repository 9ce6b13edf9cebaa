// Turns a failed library call into the one sentence that the user sees: what the
// command attempted, then the library's own explanation of the failure.
#ifndef QUORLIN_TOOL_DIAGNOSIS_H
#define QUORLIN_TOOL_DIAGNOSIS_H

#include "Failure.h"

#include <string>

namespace qtool {

// `action` names what was attempted ("take a snapshot of /data"); `failure` is what the
// library recorded for the call. The sentence is "could not ACTION: " and the library's
// explanation (what is wrong, what to try), the exit code the result's.
Failure DiagnoseFailure(const std::string& action, const LibraryFailure& failure);

// The same for a call that answered the failure code `code` (an HRESULT) without a
// report line (the held snapshots' list and deletion).
Failure DiagnoseCode(const std::string& action, unsigned long code);

// The explanation in the middle of a line of the command's: its first letter in lower
// case, as it follows "could not ...: ".
std::string ExplanationInLine(const std::string& explanation);

}  // namespace qtool

#endif  // QUORLIN_TOOL_DIAGNOSIS_H
