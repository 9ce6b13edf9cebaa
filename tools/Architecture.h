// Whether the snapshot service serves this build of quorlin where it runs. On 64-bit
// Windows, VSS serves only 64-bit requesters (since Windows Vista): a 32-bit quorlin.exe
// there, which runs under WOW64, gets no snapshot.
#ifndef QUORLIN_TOOL_ARCHITECTURE_H
#define QUORLIN_TOOL_ARCHITECTURE_H

namespace qtool {

// Why the snapshot service does not serve this process (a clause that completes "could
// not take a snapshot of X: "), or null when it does. `emulated`: it runs under WOW64.
const char* ArchitectureRefusal(bool emulated);

// Throws Failure(kExitFailed) that `action` ("take a snapshot of X", "list the held
// snapshots") cannot be done, with ArchitectureRefusal's reason, when the service does
// not serve this process.
void CheckArchitectureServed(const char* action);

}  // namespace qtool

#endif  // QUORLIN_TOOL_ARCHITECTURE_H
