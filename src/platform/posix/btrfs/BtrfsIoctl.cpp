#include "platform/posix/btrfs/BtrfsIoctl.h"

#include <cerrno>
#include <cstring>
#include <linux/btrfs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>

namespace quorlin {

namespace {

// The root directory of every btrfs subvolume has this inode number.
const ino_t kSubvolumeRootInode = 256;

int Ioctl(int fd, unsigned long request, void* argument) {
    int result;
    do {
        result = ::ioctl(fd, request, argument);
    } while (result < 0 && errno == EINTR);
    return result < 0 ? errno : 0;
}

// Copies `name` into a btrfs name field; ENAMETOOLONG when it does not fit.
template <size_t N>
int CopyName(char (&field)[N], const char* name) {
    const size_t length = std::strlen(name);
    if (length == 0)
        return EINVAL;
    if (length >= N)
        return ENAMETOOLONG;
    std::memcpy(field, name, length + 1);
    return 0;
}

}  // namespace

int IsSubvolumeRoot(int fd, bool& isRoot) {
    struct statfs fs;
    struct stat st;
    if (::fstatfs(fd, &fs) != 0 || ::fstat(fd, &st) != 0)
        return errno;
    isRoot =
        fs.f_type == BTRFS_SUPER_MAGIC && S_ISDIR(st.st_mode) && st.st_ino == kSubvolumeRootInode;
    return 0;
}

int CreateReadOnlySnapshot(int sourceFd, int dirFd, const char* name) {
    struct btrfs_ioctl_vol_args_v2 args;
    std::memset(&args, 0, sizeof args);
    args.fd = sourceFd;
    args.flags = BTRFS_SUBVOL_RDONLY;
    const int error = CopyName(args.name, name);
    return error != 0 ? error : Ioctl(dirFd, BTRFS_IOC_SNAP_CREATE_V2, &args);
}

int DestroySubvolume(int dirFd, const char* name) {
    struct btrfs_ioctl_vol_args args;
    std::memset(&args, 0, sizeof args);
    const int error = CopyName(args.name, name);
    return error != 0 ? error : Ioctl(dirFd, BTRFS_IOC_SNAP_DESTROY, &args);
}

int CreateSubvolume(int dirFd, const char* name) {
    struct btrfs_ioctl_vol_args args;
    std::memset(&args, 0, sizeof args);
    const int error = CopyName(args.name, name);
    return error != 0 ? error : Ioctl(dirFd, BTRFS_IOC_SUBVOL_CREATE, &args);
}

int CommitTransaction(int fd) {
    __u64 transaction = 0;
    int error = Ioctl(fd, BTRFS_IOC_START_SYNC, &transaction);
    if (error == 0)
        error = Ioctl(fd, BTRFS_IOC_WAIT_SYNC, &transaction);
    return error;
}

}  // namespace quorlin
