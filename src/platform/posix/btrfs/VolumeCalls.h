// The calls through which the snapshot service changes a volume, behind one seam so
// that a test can fail any one of them (override a method, call the base for the rest).
// Each returns 0 or the errno value of the failed call.
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_VOLUME_CALLS_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_VOLUME_CALLS_H

namespace quorlin {

class VolumeCalls {
public:
    virtual ~VolumeCalls() = default;

    // A directory `name` in `dirFd` that only its owner can enter (mode 0700, less what
    // the umask takes away).
    virtual int MakePrivateDirectory(int dirFd, const char* name);
    virtual int RemoveDirectory(int dirFd, const char* name);
    // A new empty file `name` in `dirFd`; EEXIST when there is one.
    virtual int CreateEmptyFile(int dirFd, const char* name);
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
