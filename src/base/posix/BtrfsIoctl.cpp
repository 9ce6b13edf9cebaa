#include "base/posix/BtrfsIoctl.h"

#include <cerrno>
#include <cstring>
#include <linux/btrfs.h>
#include <linux/btrfs_tree.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>

namespace quorlin {

namespace {

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

int CallIoctl(int fd, unsigned long request, void* argument) {
    int result;
    do {
        result = ::ioctl(fd, request, argument);
    } while (result < 0 && errno == EINTR);
    return result < 0 ? errno : 0;
}

bool IsSubvolumeRoot(const struct statfs& fs, const struct stat& st) {
    return fs.f_type == BTRFS_SUPER_MAGIC && S_ISDIR(st.st_mode) &&
           st.st_ino == kSubvolumeRootInode;
}

int CreateReadOnlySnapshot(int sourceFd, int dirFd, const char* name) {
    struct btrfs_ioctl_vol_args_v2 args;
    std::memset(&args, 0, sizeof args);
    args.fd = sourceFd;
    args.flags = BTRFS_SUBVOL_RDONLY;
    const int error = CopyName(args.name, name);
    return error != 0 ? error : CallIoctl(dirFd, BTRFS_IOC_SNAP_CREATE_V2, &args);
}

int DestroySubvolume(int dirFd, const char* name) {
    struct btrfs_ioctl_vol_args args;
    std::memset(&args, 0, sizeof args);
    const int error = CopyName(args.name, name);
    return error != 0 ? error : CallIoctl(dirFd, BTRFS_IOC_SNAP_DESTROY, &args);
}

int CreateSubvolume(int dirFd, const char* name) {
    struct btrfs_ioctl_vol_args args;
    std::memset(&args, 0, sizeof args);
    const int error = CopyName(args.name, name);
    return error != 0 ? error : CallIoctl(dirFd, BTRFS_IOC_SUBVOL_CREATE, &args);
}

int SubvolumeIdOf(int fd, uint64_t& id) {
    struct btrfs_ioctl_ino_lookup_args args;
    std::memset(&args, 0, sizeof args);
    args.objectid = BTRFS_FIRST_FREE_OBJECTID;  // tree 0: the subvolume of `fd`
    const int error = CallIoctl(fd, BTRFS_IOC_INO_LOOKUP, &args);
    if (error == 0)
        id = args.treeid;
    return error;
}

int FileSystemIdOf(int fd, std::array<uint8_t, 16>& id) {
    struct btrfs_ioctl_fs_info_args args;
    std::memset(&args, 0, sizeof args);
    const int error = CallIoctl(fd, BTRFS_IOC_FS_INFO, &args);
    if (error == 0)
        std::memcpy(id.data(), args.fsid, id.size());
    return error;
}

int CommitTransaction(int fd) {
    __u64 transaction = 0;
    int error = CallIoctl(fd, BTRFS_IOC_START_SYNC, &transaction);
    if (error == 0)
        error = CallIoctl(fd, BTRFS_IOC_WAIT_SYNC, &transaction);
    return error;
}

int StartCommit(int fd) {
    __u64 transaction = 0;
    return CallIoctl(fd, BTRFS_IOC_START_SYNC, &transaction);
}

int SubvolumeInfoOf(int fd, btrfs_ioctl_get_subvol_info_args& info) {
    std::memset(&info, 0, sizeof info);
    // Some kernels answer 1 (a search that ended at the last item) with the answer filled in.
    return CallIoctl(fd, BTRFS_IOC_GET_SUBVOL_INFO, &info);
}

int CreationGeneration(int fd, uint64_t& generation) {
    struct btrfs_ioctl_get_subvol_info_args info;
    const int error = SubvolumeInfoOf(fd, info);
    if (error == 0)
        generation = info.otransid;
    return error;
}

}  // namespace quorlin
