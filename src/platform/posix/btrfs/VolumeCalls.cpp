#include "platform/posix/btrfs/VolumeCalls.h"

#include "platform/posix/btrfs/BtrfsIoctl.h"
#include "platform/posix/btrfs/Guid.h"
#include "platform/posix/btrfs/StoreIdentity.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorlin {

namespace {

int Result(int status) { return status == 0 ? 0 : errno; }

// Gives the unnamed file `fd` the name `name` in `dirFd`. Naming a file by its descriptor
// needs CAP_DAC_READ_SEARCH; without it, its /proc link does the same.
int LinkUnnamedFile(int fd, int dirFd, const char* name) {
    if (::linkat(fd, "", dirFd, name, AT_EMPTY_PATH) == 0)
        return 0;
    if (errno != ENOENT && errno != EPERM)
        return errno;
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    return Result(::linkat(AT_FDCWD, link.c_str(), dirFd, name, AT_SYMLINK_FOLLOW));
}

}  // namespace

int VolumeCalls::CreateStore(int dirFd, const char* name) {
    // A new subvolume's mode comes from the umask, which a library cannot change safely:
    // it is closed to others under a name of its own before it gets `name`.
    GUID id;
    int error = NewRandomGuid(id);
    if (error != 0)
        return error;
    const std::string temporary = std::string(name) + kStoreInMakingMark + GuidText(id);
    error = CreateSubvolume(dirFd, temporary.c_str());
    if (error != 0)
        return error;
    UniqueFd store(
        ::openat(dirFd, temporary.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!store.Valid() || ::fchmod(store.Get(), 0700) != 0 ||
        ::renameat2(dirFd, temporary.c_str(), dirFd, name, RENAME_NOREPLACE) != 0) {
        error = errno;
        store.Reset();
        DestroySubvolume(dirFd, temporary.c_str());
    }
    return error;
}

int VolumeCalls::CreateRecord(int dirFd, const char* name, UniqueFd& lock) {
    UniqueFd fd(::openat(dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (!fd.Valid())
        return errno;
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
        return errno;
    const int error = LinkUnnamedFile(fd.Get(), dirFd, name);
    if (error == 0)
        lock = std::move(fd);
    return error;
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
