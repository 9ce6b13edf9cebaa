#include "Architecture.h"

#include "Failure.h"

#include <string>
#include <windows.h>

namespace qtool {

const char* ArchitectureRefusal(bool emulated) {
    if (!emulated)
        return nullptr;
    return "this is the 32-bit quorlin, and on 64-bit Windows the Volume Shadow Copy service "
           "serves 64-bit programs only; run the 64-bit quorlin.exe (the windows-x64 build) "
           "instead";
}

void CheckArchitectureServed(const char* action) {
    BOOL emulated = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &emulated))
        emulated = FALSE;  // not told: let the service answer for itself
    if (const char* refusal = ArchitectureRefusal(emulated != FALSE))
        throw Failure(kExitFailed, std::string("could not ") + action + ": " + refusal);
}

}  // namespace qtool
