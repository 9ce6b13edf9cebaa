#include "platform/posix/btrfs/SnapshotStore.h"

#include "base/posix/BtrfsIoctl.h"
#include "base/posix/Directory.h"
#include "platform/posix/btrfs/ErrnoResult.h"
#include "platform/posix/btrfs/Guid.h"
#include "platform/posix/btrfs/StoredSnapshots.h"
#include "base/posix/TrustedPath.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorlin {

namespace {

const int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Opens `name` in the mount root as the store: 0, EACCES when it is not root's alone (or
// not a folder), else the errno value of the open.
int OpenNamedStore(int mountRootFd, const struct stat& root, const std::string& name,
                   UniqueFd& store) {
    UniqueFd fd(::openat(mountRootFd, name.c_str(), kFolderFlags));
    if (!fd.Valid())
        return errno == ELOOP || errno == ENOTDIR ? EACCES : errno;
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0)
        return errno;
    if (!IsStoreEntry(name.c_str(), st) || !OnlyRootCanReplace(root, st))
        return EACCES;
    store = std::move(fd);
    return 0;
}

// The store of a sticky mount root that others may write: root's ".quorlin" (made by hand
// before anyone else could), else the first of root's ".quorlin-<id>".
int OpenStickyStore(int mountRootFd, const struct stat& root, UniqueFd& store,
                    std::string& storeName) {
    if (OpenNamedStore(mountRootFd, root, kStoreDirectoryName, store) == 0) {
        storeName = kStoreDirectoryName;
        return 0;
    }
    std::vector<std::string> names;
    const int error = ListDirectory(mountRootFd, names);
    if (error != 0)
        return error;
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        if (StoreNameKind(name.c_str()) == StoreName::kUnforeseeable &&
            OpenNamedStore(mountRootFd, root, name, store) == 0) {
            storeName = name;
            return 0;
        }
    return ENOENT;
}

bool StickyAndOpen(const struct stat& root) {
    return !OnlyRootCanWrite(root) && root.st_uid == 0 && (root.st_mode & S_ISVTX) != 0;
}

}  // namespace

std::string StorePath(const std::string& mountPoint, const std::string& storeName) {
    return (mountPoint == "/" ? "" : mountPoint) + "/" + storeName;
}

std::string SnapshotPath(const std::string& mountPoint, const std::string& storeName,
                         const VSS_ID& snapshotId) {
    const std::string id = GuidText(snapshotId);
    return StorePath(mountPoint, storeName) + "/" + id + "/" + id;
}

int OpenStore(int mountRootFd, UniqueFd& store, std::string& storeName, bool* mountRootBlamed) {
    struct stat root;
    if (::fstat(mountRootFd, &root) != 0)
        return errno;
    const bool sticky = StickyAndOpen(root);
    if (mountRootBlamed != nullptr)
        *mountRootBlamed = !OnlyRootCanWrite(root) && !sticky;
    if (sticky)
        return OpenStickyStore(mountRootFd, root, store, storeName);
    if (!OnlyRootCanWrite(root))
        return EACCES;
    const int error = OpenNamedStore(mountRootFd, root, kStoreDirectoryName, store);
    if (error == 0)
        storeName = kStoreDirectoryName;
    return error;
}

int OpenOrCreateStore(VolumeCalls& calls, int mountRootFd, UniqueFd& store,
                      std::string& storeName) {
    int error = OpenStore(mountRootFd, store, storeName);
    if (error != ENOENT)
        return error;
    struct stat root;
    if (::fstat(mountRootFd, &root) != 0)
        return errno;
    SweepUnpublishedStores(calls, mountRootFd);
    std::string name = kStoreDirectoryName;
    if (StickyAndOpen(root)) {
        GUID id;
        error = NewRandomGuid(id);
        if (error != 0)
            return error;
        name += kUnforeseeableStoreMark + GuidText(id);
    }
    error = calls.CreateStore(mountRootFd, name.c_str());
    if (error != 0 && error != EEXIST)  // EEXIST: another process made it meanwhile
        return error;
    return OpenStore(mountRootFd, store, storeName);
}

int RemoveSnapshot(VolumeCalls& calls, int folderFd, const SnapshotRecord& record) {
    const std::string snapshot = GuidText(record.snapshotId);
    int error = calls.DestroySnapshot(folderFd, snapshot.c_str());
    if (error != 0 && error != ENOENT)
        return error;
    error = calls.RemoveFile(folderFd, RecordFileName(record).c_str());
    if (error != 0 && error != ENOENT)
        return error;
    // The snapshot's own folder goes too, by its name in its parent when that is still it.
    struct stat folder, named;
    if (::fstat(folderFd, &folder) != 0 || folder.st_ino == kSubvolumeRootInode)
        return 0;
    const UniqueFd parent(::openat(folderFd, "..", kFolderFlags));
    if (parent.Valid() &&
        ::fstatat(parent.Get(), snapshot.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == folder.st_dev && named.st_ino == folder.st_ino)
        calls.RemoveFolder(parent.Get(), snapshot.c_str());  // one left non-empty stays
    return 0;
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
