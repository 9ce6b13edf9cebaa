#include "Advice.h"

namespace qtool {

const char* UnsupportedVolumeAdvice() {
    return "on Linux the path must lie on a btrfs subvolume (the top of a btrfs file system "
           "counts), so choose a path on btrfs or make its folder a subvolume";
}

const char* AccessDeniedAdvice() {
    return "run quorlin as root, or give it CAP_SYS_ADMIN and CAP_DAC_READ_SEARCH";
}

const char* ServiceMissingAdvice() {
    return "check that the kernel supports btrfs snapshots and that the volume is mounted "
           "read-write";
}

const char* SnapshotFailedAdvice() {
    return "check that quorlin runs as root (or with CAP_SYS_ADMIN) and that the volume has free "
           "space; -vv shows the system's reason";
}

}  // namespace qtool
