// The calls through which the snapshot service changes a volume, behind one seam so
// that a test can fail any one of them (override a method, call the base for the rest).
// Each returns 0 or the errno value of the failed call.
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_VOLUME_CALLS_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_VOLUME_CALLS_H

#include "platform/posix/UniqueFd.h"

namespace quorlin {

class VolumeCalls {
public:
    virtual ~VolumeCalls() = default;

    // A new subvolume `name` in `dirFd` that only root can enter (mode 0700 whatever the
    // umask), made under a temporary name and published whole; EEXIST when `name` exists.
    virtual int CreateStore(int dirFd, const char* name);
    // A new empty file `name` in `dirFd`, locked (flock, exclusive) through the descriptor
    // that `lock` receives before the name exists; EEXIST when there is one.
    virtual int CreateRecord(int dirFd, const char* name, UniqueFd& lock);
    virtual int RemoveFile(int dirFd, const char* name);
    // CreateReadOnlySnapshot, DestroySubvolume and CommitTransaction of BtrfsIoctl.h.
    virtual int CreateSnapshot(int sourceFd, int dirFd, const char* name);
    virtual int DestroySnapshot(int dirFd, const char* name);
    virtual int Commit(int fd);
};

// The real calls.
VolumeCalls& SystemVolumeCalls();

}  // namespace quorlin

#endif
