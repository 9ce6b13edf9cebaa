#include "platform/posix/btrfs/SnapshotStore.h"

#include "platform/posix/btrfs/ErrnoResult.h"
#include "platform/posix/btrfs/Guid.h"

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

std::string SnapshotPath(const std::string& mountPoint, const std::string& setName,
                         const VSS_ID& snapshotId) {
    return StorePath(mountPoint) + "/" + setName + "/" + GuidText(snapshotId);
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

int OpenPrivateDirectory(VolumeCalls& calls, int parentFd, const std::string& name, bool create,
                         UniqueFd& directory) {
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    UniqueFd fd(::openat(parentFd, name.c_str(), flags));
    bool created = false;
    if (!fd.Valid() && errno == ENOENT && create) {
        const int error = calls.MakePrivateDirectory(parentFd, name.c_str());
        if (error != 0 && error != EEXIST)
            return error;
        created = error == 0;
        fd.Reset(::openat(parentFd, name.c_str(), flags));
    }
    if (!fd.Valid())
        return errno == ENOTDIR ? EACCES : errno;
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0)
        return errno;
    if (st.st_uid != ::geteuid() || (st.st_mode & 077) != 0)
        return EACCES;
    // A umask may have taken the owner's bits too; the store must stay usable.
    if (created && (st.st_mode & 0700) != 0700 && ::fchmod(fd.Get(), 0700) != 0)
        return errno;
    directory = std::move(fd);
    return 0;
}

int RemoveDirectoryIfEmpty(VolumeCalls& calls, int parentFd, const std::string& name) {
    const int error = calls.RemoveDirectory(parentFd, name.c_str());
    return error == ENOTEMPTY || error == EEXIST || error == ENOENT ? 0 : error;
}

int ReadSetRecords(int setFd, std::vector<SnapshotRecord>& records) {
    std::vector<std::string> names;
    const int error = ListDirectory(setFd, names);
    if (error != 0)
        return error;
    for (const std::string& name : names) {
        SnapshotRecord record;
        if (ParseRecordFileName(name, record))
            records.push_back(record);
    }
    return 0;
}

int RemoveSnapshot(VolumeCalls& calls, int setFd, const SnapshotRecord& record) {
    const std::string snapshot = GuidText(record.snapshotId);
    int error = calls.DestroySnapshot(setFd, snapshot.c_str());
    if (error != 0 && error != ENOENT)
        return error;
    error = calls.RemoveFile(setFd, RecordFileName(record).c_str());
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

void SweepDeadOwners(VolumeCalls& calls, int mountRootFd, const ProcessIdentity& self) {
    UniqueFd store;
    if (OpenPrivateDirectory(calls, mountRootFd, kStoreDirectoryName, false, store) != 0)
        return;
    std::vector<std::string> sets;
    if (ListDirectory(store.Get(), sets) != 0)
        return;
    for (const std::string& setName : sets) {
        GUID setId;
        UniqueFd set;
        std::vector<SnapshotRecord> records;
        if (!ParseGuid(setName, setId) ||
            OpenPrivateDirectory(calls, store.Get(), setName, false, set) != 0 ||
            ReadSetRecords(set.Get(), records) != 0)
            continue;
        for (const SnapshotRecord& record : records)
            if (IsAutoRelease(record.context) &&
                CheckOwner(record.owner, self) == OwnerState::kGone)
                RemoveSnapshot(calls, set.Get(), record);
        RemoveDirectoryIfEmpty(calls, store.Get(), setName);
    }
    RemoveDirectoryIfEmpty(calls, mountRootFd, kStoreDirectoryName);
}

}  // namespace quorlin
