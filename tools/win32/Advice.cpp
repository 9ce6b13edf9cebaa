#include "Advice.h"

namespace qtool {

const char* UnsupportedVolumeAdvice() {
    return "on Windows the path must lie on a local NTFS or ReFS volume, so choose such a "
           "path";
}

const char* AccessDeniedAdvice() {
    return "run quorlin from a command prompt opened as administrator";
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
