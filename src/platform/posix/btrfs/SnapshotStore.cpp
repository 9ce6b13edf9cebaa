#include "platform/posix/btrfs/SnapshotStore.h"

#include "platform/posix/btrfs/ErrnoResult.h"
#include "platform/posix/btrfs/Guid.h"
#include "platform/posix/btrfs/TrustedPath.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace quorlin {

namespace {

// Closes a directory stream (and the descriptor it took over) on every path.
struct DirectoryClose {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

const char kStoreDirectoryName[] = ".quorlin";

std::string StorePath(const std::string& mountPoint) {
    return (mountPoint == "/" ? "" : mountPoint) + "/" + kStoreDirectoryName;
}

std::string SnapshotPath(const std::string& mountPoint, const VSS_ID& snapshotId) {
    return StorePath(mountPoint) + "/" + GuidText(snapshotId);
}

int OpenStore(int mountRootFd, UniqueFd& store, bool* mountRootBlamed) {
    struct stat root;
    if (::fstat(mountRootFd, &root) != 0)
        return errno;
    const bool sticky = root.st_uid == 0 && (root.st_mode & S_ISVTX) != 0;
    if (mountRootBlamed != nullptr)
        *mountRootBlamed = !OnlyRootCanWrite(root) && !sticky;
    if (!OnlyRootCanWrite(root) && !sticky)
        return EACCES;
    UniqueFd fd(::openat(mountRootFd, kStoreDirectoryName,
                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.Valid()) {
        if (errno == ENOENT)
            return OnlyRootCanWrite(root) ? ENOENT : EACCES;
        return errno == ELOOP || errno == ENOTDIR ? EACCES : errno;
    }
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0)
        return errno;
    if (st.st_uid != 0 || (st.st_mode & 077) != 0 || !OnlyRootCanReplace(root, st))
        return EACCES;
    store = std::move(fd);
    return 0;
}

int OpenOrCreateStore(VolumeCalls& calls, int mountRootFd, UniqueFd& store) {
    int error = OpenStore(mountRootFd, store);
    if (error != ENOENT)
        return error;
    error = calls.CreateStore(mountRootFd, kStoreDirectoryName);
    if (error != 0 && error != EEXIST)  // EEXIST: another process made it meanwhile
        return error;
    return OpenStore(mountRootFd, store);
}

int ListDirectory(int fd, std::vector<std::string>& names) {
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return errno;
    const std::unique_ptr<DIR, DirectoryClose> dir(::fdopendir(copy));
    if (!dir) {
        const int error = errno;
        ::close(copy);
        return error;
    }
    ::rewinddir(dir.get());
    errno = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    return errno;
}

int RemoveSnapshot(VolumeCalls& calls, int folderFd, const SnapshotRecord& record) {
    const std::string snapshot = GuidText(record.snapshotId);
    int error = calls.DestroySnapshot(folderFd, snapshot.c_str());
    if (error != 0 && error != ENOENT)
        return error;
    error = calls.RemoveFile(folderFd, RecordFileName(record).c_str());
    return error == ENOENT ? 0 : error;
}

void DeletionTally::Count(const VSS_ID& id, int error, const std::string& path) {
    if (error == 0) {
        ++deleted;
        return;
    }
    const HRESULT hr = ReportErrno("deleting snapshot", path, error);
    if (firstFailure == S_OK) {
        firstFailure = hr;
        firstNotDeleted = id;
    }
}

}  // namespace quorlin
