#include "platform/posix/btrfs/VolumeCalls.h"

#include "base/posix/BtrfsIoctl.h"
#include "platform/posix/btrfs/Guid.h"
#include "base/posix/StoreIdentity.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorlin {

namespace {

int Result(int status) { return status == 0 ? 0 : errno; }

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

int VolumeCalls::CreateRecord(int storeFd, const char* folderName, const char* recordName,
                              UniqueFd& folder) {
    if (::mkdirat(storeFd, folderName, 0700) != 0)
        return errno;
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    UniqueFd made(::openat(storeFd, folderName, flags));
    int error = made.Valid() ? 0 : errno;
    if (error == 0 && ::flock(made.Get(), LOCK_EX | LOCK_NB) != 0)
        error = errno;
    if (error == 0) {
        const UniqueFd record(::openat(made.Get(), recordName,
                                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!record.Valid())
            error = errno;
    }
    if (error != 0) {
        made.Reset();
        ::unlinkat(storeFd, folderName, AT_REMOVEDIR);
        return error;
    }
    folder = std::move(made);
    return 0;
}

int VolumeCalls::RemoveFile(int dirFd, const char* name) {
    return Result(::unlinkat(dirFd, name, 0));
}

int VolumeCalls::RemoveFolder(int dirFd, const char* name) {
    return Result(::unlinkat(dirFd, name, AT_REMOVEDIR));
}

int VolumeCalls::CreateSnapshot(int sourceFd, int dirFd, const char* name) {
    return CreateReadOnlySnapshot(sourceFd, dirFd, name);
}

int VolumeCalls::DestroySnapshot(int dirFd, const char* name) {
    return DestroySubvolume(dirFd, name);
}

int VolumeCalls::Commit(int fd) { return CommitTransaction(fd); }

int VolumeCalls::StartCommit(int fd) { return quorlin::StartCommit(fd); }

int VolumeCalls::CreationGeneration(int dirFd, const char* name, uint64_t& generation) {
    const UniqueFd snapshot(::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    return snapshot.Valid() ? quorlin::CreationGeneration(snapshot.Get(), generation) : errno;
}

VolumeCalls& SystemVolumeCalls() {
    static VolumeCalls calls;
    return calls;
}

}  // namespace quorlin
