#include "Advice.h"

#include <windows.h>
#include <shlobj.h>

namespace qtool {

const char* UnsupportedVolumeAdvice() {
    return "on Windows the path must lie on a local NTFS or ReFS volume, so choose such a "
           "path";
}

bool HoldsSnapshotRights() { return IsUserAnAdmin() != FALSE; }

const char* AccessDeniedCause(bool) { return "access was denied"; }

const char* AccessDeniedAdvice(bool privileged) {
    return privileged ? "look in the Application event log for the reason that VSS gives; -vv "
                        "shows each step"
                      : "run quorlin from a command prompt opened as administrator";
}

const char* ReadOnlyVolumeAdvice() {
    return "make the volume writable, or choose a path on another volume";
}

const char* ServiceMissingAdvice() {
    return "run quorlin on Windows with the Volume Shadow Copy service enabled (it is not "
           "available under Wine)";
}

const char* SnapshotFailedAdvice() {
    return "check that quorlin runs as administrator, and look in the Application event log "
           "for the reason that VSS gives; -vv shows each step";
}

}  // namespace qtool
