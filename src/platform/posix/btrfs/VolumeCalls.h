// The calls through which the snapshot service changes a volume, behind one seam so
// that a test can fail any one of them (override a method, call the base for the rest).
// Each returns 0 or the errno value of the failed call.
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_VOLUME_CALLS_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_VOLUME_CALLS_H

#include "base/posix/UniqueFd.h"

#include <cstdint>

namespace quorlin {

class VolumeCalls {
public:
    virtual ~VolumeCalls() = default;

    // A new subvolume `name` in `dirFd` that only root can enter (mode 0700 whatever the
    // umask), made under a temporary name and published whole; EEXIST when `name` exists.
    virtual int CreateStore(int dirFd, const char* name);
    // A new folder `folderName` in `storeFd` that only root can enter, locked (flock,
    // exclusive) through the descriptor that `folder` receives, holding a new empty file
    // `recordName`; EEXIST when the folder exists. Nothing is left when it fails.
    virtual int CreateRecord(int storeFd, const char* folderName, const char* recordName,
                             UniqueFd& folder);
    virtual int RemoveFile(int dirFd, const char* name);
    // Removes the empty folder `name` in `dirFd`.
    virtual int RemoveFolder(int dirFd, const char* name);
    // CreateReadOnlySnapshot, DestroySubvolume, CommitTransaction and StartCommit of
    // BtrfsIoctl.h. CreateSnapshot may be called from several threads at once.
    virtual int CreateSnapshot(int sourceFd, int dirFd, const char* name);
    virtual int DestroySnapshot(int dirFd, const char* name);
    virtual int Commit(int fd);
    virtual int StartCommit(int fd);
    // The transaction in which the subvolume `name` in `dirFd` was made (CreationGeneration).
    virtual int CreationGeneration(int dirFd, const char* name, uint64_t& generation);
};

// The real calls.
VolumeCalls& SystemVolumeCalls();

}  // namespace quorlin

#endif
