// Turns a failed library call into the one sentence that the user sees.
#ifndef QUORLIN_TOOL_DIAGNOSIS_H
#define QUORLIN_TOOL_DIAGNOSIS_H

#include "Failure.h"

#include <string>

namespace qtool {

// `action` names what was attempted ("take a snapshot of /data"); `result` is the call's
// result code; `reportLine` is the last line the library traced for the call, empty when
// it traced none. The sentence says what failed, why as far as the report tells, and
// what to try.
Failure DiagnoseFailure(const std::string& action, int result, const std::string& reportLine);
// The same, for a quorlin that holds the rights that snapshots need (`privileged`) or not.
Failure DiagnoseFailure(const std::string& action, int result, const std::string& reportLine,
                        bool privileged);

// The same for a call that answered the failure code `code` (an HRESULT) without a
// report line.
Failure DiagnoseCode(const std::string& action, unsigned long code);

// The code of a report line "There was a COM failure 0x...", else 0.
unsigned ReportedCode(const std::string& reportLine);
// Why a call failed, as far as its report line tells ("another snapshot is being taken").
std::string FailureCause(const std::string& reportLine);

}  // namespace qtool

#endif  // QUORLIN_TOOL_DIAGNOSIS_H
