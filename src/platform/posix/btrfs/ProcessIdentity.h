// Who owns a snapshot: an identity of a process that survives pid reuse and reboots.
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_PROCESS_IDENTITY_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_PROCESS_IDENTITY_H

#include <cstdint>
#include <string>

namespace quorlin {

struct ProcessIdentity {
    std::string bootId;         // the kernel's boot id, 32 hex digits without dashes
    uint64_t pidNamespace = 0;  // inode of the pid namespace the pid is counted in
    long pid = 0;
    uint64_t startTime = 0;  // clock ticks after boot, from /proc/<pid>/stat
};

// The identity of process `pid` as seen from here (0: the calling process).
// Returns 0 or an errno value (ENOENT: no such process).
int QueryProcessIdentity(long pid, ProcessIdentity& identity);

enum class OwnerState { kAlive, kGone, kUnknown };

// Whether the process `owner` still runs, judged from `self` (the caller's identity).
// kGone only when that is certain: another boot, or the same pid namespace with the pid
// unused, reused by a later process or a zombie. An owner in another pid namespace is kUnknown.
OwnerState CheckOwner(const ProcessIdentity& owner, const ProcessIdentity& self);

}  // namespace quorlin

#endif
