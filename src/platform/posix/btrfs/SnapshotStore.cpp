#include "platform/posix/btrfs/SnapshotStore.h"

#include "platform/posix/btrfs/ErrnoResult.h"
#include "platform/posix/btrfs/Guid.h"
#include "platform/posix/btrfs/TrustedPath.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorlin {

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
    if (!IsStoreEntry(kStoreDirectoryName, st) || !OnlyRootCanReplace(root, st))
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
    // A descriptor of its own, at the start, whatever `fd` has read; the entries straight
    // from the kernel (a directory stream costs five more calls).
    const UniqueFd folder(::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.Valid())
        return errno;
    alignas(dirent64) char buffer[8192];
    for (;;) {
        const ssize_t bytes = ::getdents64(folder.Get(), buffer, sizeof buffer);
        if (bytes < 0 && errno == EINTR)
            continue;
        if (bytes <= 0)
            return bytes < 0 ? errno : 0;
        for (ssize_t at = 0; at < bytes;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            at += entry->d_reclen;
            const char* name = entry->d_name;
            if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0)
                names.emplace_back(name);
        }
    }
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
