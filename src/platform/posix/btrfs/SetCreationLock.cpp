#include "platform/posix/btrfs/SetCreationLock.h"

#include "base/posix/TrustedPath.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace quorlin {

namespace {

const char kLockFileName[] = "snapshot-set.lock";

// Opens `name` in `parentFd` as a folder of root's that no one else may enter, making it
// first when it is missing.
int OpenPrivateFolder(int parentFd, const char* name, UniqueFd& folder) {
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    UniqueFd fd(::openat(parentFd, name, flags));
    if (!fd.Valid() && errno == ENOENT) {
        if (::mkdirat(parentFd, name, 0700) != 0 && errno != EEXIST)
            return errno;
        fd.Reset(::openat(parentFd, name, flags));
    }
    if (!fd.Valid())
        return errno == ELOOP || errno == ENOTDIR ? EACCES : errno;
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0)
        return errno;
    if (st.st_uid != 0 || (st.st_mode & 077) != 0)
        return EACCES;
    folder = std::move(fd);
    return 0;
}

}  // namespace

const char kSetCreationLockFolder[] = "/run/quorlin";

int LockSetCreation(UniqueFd& lock, const std::string& folder) {
    const std::string::size_type slash = folder.rfind('/');
    if (slash == std::string::npos || slash + 1 == folder.size())
        return EINVAL;
    UniqueFd parent;
    struct stat parentStatus;
    std::string refusedAt;
    int error = OpenTrustedPath(slash == 0 ? "/" : folder.substr(0, slash), O_RDONLY | O_DIRECTORY,
                                parent, parentStatus, refusedAt);
    if (error != 0)
        return error;
    if (!OnlyRootCanWrite(parentStatus))
        return EACCES;
    UniqueFd lockFolder;
    error = OpenPrivateFolder(parent.Get(), folder.c_str() + slash + 1, lockFolder);
    if (error != 0)
        return error;
    UniqueFd fd(::openat(lockFolder.Get(), kLockFileName,
                         O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600));
    if (!fd.Valid())
        return errno;
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode) || st.st_uid != 0)
        return EACCES;
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
        return errno;
    lock = std::move(fd);
    return 0;
}

}  // namespace quorlin
