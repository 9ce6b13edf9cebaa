#include "diag/Explanation.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace quorlin {
namespace advice {

const char* UnsupportedVolume() {
    return "on Linux the path must lie on a btrfs subvolume (the top of a btrfs file system "
           "counts), so choose a path on btrfs or make its folder a subvolume";
}

bool HoldsSnapshotRights() {
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return ::geteuid() == 0;
    return (data[CAP_SYS_ADMIN / 32].effective & (1u << (CAP_SYS_ADMIN % 32))) != 0;
}

const char* AccessDeniedCause(bool privileged) {
    // With the rights, the service refuses a mount where others could redirect its paths.
    return privileged ? "users other than root could redirect the snapshot paths on that "
                        "volume's mount"
                      : "access was denied";
}

const char* AccessDeniedAdvice(bool privileged) {
    return privileged ? "make the mount point and every folder above it belong to root and be "
                        "writable by root alone, or, where everyone may write the mount point "
                        "(as in /tmp), make the store first with mkdir -m 700 "
                        "MOUNT-POINT/.quorlin; a trace of the snapshot service's steps names "
                        "the folder"
                      : "run as root, or with CAP_SYS_ADMIN and CAP_DAC_READ_SEARCH";
}

const char* ReadOnlyVolume() {
    return "remount it read-write (mount -o remount,rw MOUNT-POINT) or choose a path on a "
           "writable mount";
}

const char* ServiceMissing() {
    return "check that the kernel supports btrfs snapshots and that the volume is mounted "
           "read-write";
}

const char* SnapshotFailed() {
    return "check that the program runs as root (or with CAP_SYS_ADMIN) and that the volume has "
           "free space; a trace of the snapshot service's steps shows the system's reason";
}

}  // namespace advice
}  // namespace quorlin
