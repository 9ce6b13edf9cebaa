// The held snapshots on Linux: those in the btrfs service's stores (StoredSnapshots.h),
// whose owners are told alive or gone by the lock on their records.
#include "platform/HeldSnapshots.h"

#include "platform/posix/btrfs/ErrnoResult.h"
#include "platform/posix/btrfs/GuardedCall.h"
#include "platform/posix/btrfs/Guid.h"
#include "platform/posix/btrfs/MountedFileSystems.h"
#include "platform/posix/btrfs/StoredSnapshots.h"
#include "platform/posix/Utf8.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace quorlin {

namespace {

// The file systems to look at: that of `path`, or all. EINVAL-style failures as HRESULTs.
HRESULT FileSystemsOf(const std::wstring* path, std::vector<MountedFileSystem>& fileSystems) {
    if (path == nullptr) {
        fileSystems = FindMountedFileSystems();
        return S_OK;
    }
    std::string name;
    if (ToUtf8Exact(path->data(), path->size(), name) != 0)
        return ReportErrno("opening", ToUtf8(*path), EILSEQ);
    // Only which file system it lies on is read through the path; nothing is changed there.
    UniqueFd fd(::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.Valid())
        return ReportErrno("opening", name, errno);
    fileSystems = FindMountedFileSystems(fd.Get());
    return fileSystems.empty() ? VSS_E_VOLUME_NOT_SUPPORTED : S_OK;
}

// The path of the folder `fd` as the kernel names it now (for people to read).
std::string FolderPath(int fd) {
    char path[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(link.c_str(), path, sizeof path);
    return length > 0 && static_cast<size_t>(length) < sizeof path ? std::string(path, length)
                                                                   : std::string();
}

// When the record `name` in `folder` was made (its birth, else its last status change).
int64_t CreationTime(int folder, const std::string& name) {
    struct statx status;
    if (::statx(folder, name.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_CTIME, &status) != 0)
        return 0;
    return (status.stx_mask & STATX_BTIME) != 0 ? status.stx_btime.tv_sec : status.stx_ctime.tv_sec;
}

// The record's name, or null for a snapshot whose record is gone.
const char* RecordNameOf(const StoredSnapshot& snapshot, std::string& name) {
    name = RecordFileName(snapshot.record);
    return snapshot.recordGone ? nullptr : name.c_str();
}

OwnerState OwnerOf(const StoredSnapshot& snapshot) {
    RecordClaim claim;
    bool abandoned = false;
    std::string name;
    if (ClaimAbandonedRecord(snapshot.folder, RecordNameOf(snapshot, name), claim, abandoned) != 0)
        return OwnerState::kUnknown;
    return abandoned ? OwnerState::kGone : OwnerState::kLives;
}

// One file system's stored snapshots, kept open while they are worked on.
struct StoredOn {
    const MountedFileSystem* fileSystem;
    std::unique_ptr<StoredSnapshotList> list;
};

// Reads the stored snapshots of each file system into `all`. Without the rights to read
// the stores (not root), E_ACCESSDENIED rather than a list that looks empty; other
// failures (a folder that went meanwhile) leave out what could not be read.
HRESULT ReadAll(const std::vector<MountedFileSystem>& fileSystems, std::vector<StoredOn>& all) {
    for (const MountedFileSystem& fileSystem : fileSystems) {
        StoredOn on{&fileSystem, std::make_unique<StoredSnapshotList>()};
        const int error = on.list->Read(fileSystem.root.Get(), fileSystem.StoreFds());
        if (error == EPERM || error == EACCES)
            return ReportErrno("reading the snapshots of", fileSystem.mountPoint, error);
        all.push_back(std::move(on));
    }
    return S_OK;
}

// The stored snapshots on the file systems to look at (FileSystemsOf, ReadAll).
HRESULT ReadStored(const std::wstring* path, std::vector<MountedFileSystem>& fileSystems,
                   std::vector<StoredOn>& all) {
    const HRESULT hr = FileSystemsOf(path, fileSystems);
    return hr == S_OK ? ReadAll(fileSystems, all) : hr;
}

// Runs `work` over the stored snapshots on the file systems to look at; no exception
// leaves it.
template <class Work>
HRESULT OnStored(const std::wstring* path, Work&& work) {
    return GuardedCall([&] {
        std::vector<MountedFileSystem> fileSystems;
        std::vector<StoredOn> all;
        const HRESULT hr = ReadStored(path, fileSystems, all);
        return hr != S_OK ? hr : work(all);
    });
}

// Removes a stored snapshot and its record, counting the snapshot.
void Remove(const StoredSnapshot& stored, DeletionTally& tally) {
    const int error = RemoveSnapshot(SystemVolumeCalls(), stored.folder, stored.record);
    if (stored.snapshotExists)
        tally.Count(stored.record.snapshotId, error,
                    FolderPath(stored.folder) + "/" + GuidText(stored.record.snapshotId));
}

// Runs `remove` on each file system and commits where it removed anything; the count of
// snapshots removed into `deleted`, and the first failure.
template <class Removal>
HRESULT RemoveAndCommit(const std::vector<StoredOn>& all, LONG& deleted, Removal&& remove) {
    DeletionTally tally;
    for (const StoredOn& on : all) {
        const LONG before = tally.deleted;
        const HRESULT failedBefore = tally.firstFailure;
        remove(on, tally);
        if (tally.deleted == before && tally.firstFailure == failedBefore)
            continue;
        const int error = SystemVolumeCalls().Commit(on.fileSystem->root.Get());
        if (error != 0 && tally.firstFailure == S_OK)
            tally.firstFailure =
                ReportErrno("committing the deletion on", on.fileSystem->mountPoint, error);
    }
    deleted = tally.deleted;
    return tally.firstFailure;
}

}  // namespace

HRESULT ListHeldSnapshots(const std::wstring* path, std::vector<HeldSnapshot>& snapshots) {
    return OnStored(path, [&](const std::vector<StoredOn>& all) {
        for (const StoredOn& on : all) {
            for (const StoredSnapshot& stored : on.list->Snapshots()) {
                if (!stored.snapshotExists)
                    continue;  // a record waiting for the next sweep
                HeldSnapshot held;
                held.setId = stored.record.setId;
                held.snapshotId = stored.record.snapshotId;
                held.volume = FromUtf8(on.fileSystem->mountPoint);
                held.snapshotPath =
                    FromUtf8(FolderPath(stored.folder) + "/" + GuidText(stored.record.snapshotId));
                held.persistent = !IsAutoRelease(stored.record.context);
                held.ownerPid = stored.record.ownerPid;
                held.owner = OwnerOf(stored);
                held.created = CreationTime(stored.folder, stored.recordGone
                                                               ? GuidText(stored.record.snapshotId)
                                                               : RecordFileName(stored.record));
                snapshots.push_back(std::move(held));
            }
        }
        return S_OK;
    });
}

HRESULT DeleteHeldSet(const std::wstring* path, const VSS_ID& setId, LONG& deleted) {
    deleted = 0;
    return OnStored(path, [&](const std::vector<StoredOn>& all) {
        // Every member's record is claimed first: a set whose owner runs stays whole.
        std::vector<RecordClaim> claims;
        for (const StoredOn& on : all) {
            for (const StoredSnapshot& stored : on.list->Snapshots()) {
                if (stored.record.setId != setId || stored.recordGone)
                    continue;
                RecordClaim claim;
                bool abandoned = false;
                const std::string name = RecordFileName(stored.record);
                const int error =
                    ClaimAbandonedRecord(stored.folder, name.c_str(), claim, abandoned);
                if (error != 0)
                    return ReportErrno("checking the owner of", name, error);
                if (!abandoned)
                    return kOwnerStillRuns;
                claims.push_back(std::move(claim));
            }
        }
        if (claims.empty())
            return VSS_E_OBJECT_NOT_FOUND;
        return RemoveAndCommit(all, deleted, [&](const StoredOn& on, DeletionTally& tally) {
            for (const StoredSnapshot& stored : on.list->Snapshots())
                if (stored.record.setId == setId && !stored.recordGone)
                    Remove(stored, tally);
        });
    });
}

HRESULT DeleteOrphans(const std::wstring* path, LONG& deleted) {
    deleted = 0;
    return OnStored(path, [&](const std::vector<StoredOn>& all) {
        return RemoveAndCommit(all, deleted, [](const StoredOn& on, DeletionTally& tally) {
            RemoveAbandonedSnapshots(SystemVolumeCalls(), *on.list, on.fileSystem->mountPoint,
                                     &tally);
        });
    });
}

}  // namespace quorlin
