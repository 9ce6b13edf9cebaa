#include "platform/posix/btrfs/VolumeCalls.h"

#include "platform/posix/btrfs/BtrfsIoctl.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorlin {

namespace {

int Result(int status) { return status == 0 ? 0 : errno; }

}  // namespace

int VolumeCalls::MakePrivateDirectory(int dirFd, const char* name) {
    return Result(::mkdirat(dirFd, name, 0700));
}

int VolumeCalls::RemoveDirectory(int dirFd, const char* name) {
    return Result(::unlinkat(dirFd, name, AT_REMOVEDIR));
}

int VolumeCalls::CreateEmptyFile(int dirFd, const char* name) {
    const int fd =
        ::openat(dirFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    ::close(fd);
    return 0;
}

int VolumeCalls::RemoveFile(int dirFd, const char* name) {
    return Result(::unlinkat(dirFd, name, 0));
}

int VolumeCalls::CreateSnapshot(int sourceFd, int dirFd, const char* name) {
    return CreateReadOnlySnapshot(sourceFd, dirFd, name);
}

int VolumeCalls::DestroySnapshot(int dirFd, const char* name) {
    return DestroySubvolume(dirFd, name);
}

int VolumeCalls::Commit(int fd) { return CommitTransaction(fd); }

VolumeCalls& SystemVolumeCalls() {
    static VolumeCalls calls;
    return calls;
}

}  // namespace quorlin
