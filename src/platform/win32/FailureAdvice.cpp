#include "diag/Explanation.h"

#include <windows.h>

namespace quorlin {
namespace advice {

const char* UnsupportedVolume() {
    return "on Windows the path must lie on a local NTFS or ReFS volume, so choose such a "
           "path";
}

bool HoldsSnapshotRights() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    const bool elevated = ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation,
                                                &size) != FALSE &&
                          elevation.TokenIsElevated != 0;
    ::CloseHandle(token);
    return elevated;
}

const char* AccessDeniedCause(bool) { return "access was denied"; }

const char* AccessDeniedAdvice(bool privileged) {
    return privileged ? "look in the Application event log for the reason that VSS gives; a "
                        "trace of every step shows where it failed"
                      : "run the program as administrator (from a command prompt opened as "
                        "administrator)";
}

const char* ReadOnlyVolume() {
    return "make the volume writable, or choose a path on another volume";
}

const char* ServiceMissing() {
    return "run quorlin on Windows with the Volume Shadow Copy service enabled (it is not "
           "available under Wine)";
}

const char* SnapshotFailed() {
    return "check that the program runs as administrator, and look in the Application event "
           "log for the reason that VSS gives; a trace of every step shows where it failed";
}

}  // namespace advice
}  // namespace quorlin
