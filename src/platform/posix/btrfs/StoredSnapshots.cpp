#include "platform/posix/btrfs/StoredSnapshots.h"

#include "base/posix/BtrfsIoctl.h"
#include "platform/posix/btrfs/BtrfsTree.h"
#include "platform/posix/btrfs/Guid.h"
#include "base/posix/TrustedPath.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <utility>

namespace quorlin {

namespace {

using FolderId = std::pair<uint64_t, uint64_t>;  // subvolume, inode

const int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The store's identity; `empty` when it holds nothing (a btrfs folder's size is twice the
// length of all its names), and then it needs no other.
int FolderIdOf(int fd, FolderId& id, bool& empty) {
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return errno;
    empty = st.st_size == 0;
    id.second = st.st_ino;
    return empty ? 0 : SubvolumeIdOf(fd, id.first);
}

bool IsSubvolumeRootEntry(int folder, const std::string& name) {
    struct stat st;
    return ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode) &&
           st.st_ino == kSubvolumeRootInode;
}

}  // namespace

int StoredSnapshotList::Read(int fsFd, const std::vector<int>& stores, Reach reach) {
    int firstError = 0;
    auto note = [&](int error) {
        if (firstError == 0)
            firstError = error;
    };
    std::set<FolderId> seen;
    std::vector<uint64_t> storeSubvolumes;
    for (int store : stores) {
        FolderId id;
        bool empty = false;
        int error = FolderIdOf(store, id, empty);
        if (error == 0 && !empty && seen.insert(id).second) {
            storeSubvolumes.push_back(id.first);
            std::vector<std::string> snapshotFolders;
            UniqueFd copy(::fcntl(store, F_DUPFD_CLOEXEC, 0));
            const int kept = copy.Get();
            error = copy.Valid() ? AddFolder(std::move(copy), &snapshotFolders) : errno;
            for (const std::string& name : snapshotFolders) {
                UniqueFd folder(::openat(store, name.c_str(), kFolderFlags));
                struct stat st;
                if (!folder.Valid() || ::fstat(folder.Get(), &st) != 0 ||
                    !seen.insert({id.first, st.st_ino}).second)
                    continue;
                if (st.st_size == 0 && !folders_.empty() && folders_.back().Get() == kept)
                    emptyFolders_.emplace_back(kept, name);
                note(AddFolder(std::move(folder)));
            }
        }
        note(error);
    }
    std::vector<SubvolumeLink> links;
    if (reach == Reach::kWholeTree)
        note(ListSubvolumeLinks(fsFd, links));
    else
        for (uint64_t subvolume : storeSubvolumes)
            note(ListChildSubvolumes(fsFd, subvolume, links));
    for (const SubvolumeLink& link : links) {
        GUID id;
        if (!ParseGuid(link.name, id) || !seen.insert({link.parent, link.folder}).second)
            continue;
        UniqueFd folder;
        const int error = OpenFolderById(fsFd, link.parent, link.folder, folder);
        note(error == 0 ? AddFolder(std::move(folder)) : error);
    }
    return firstError;
}

int StoredSnapshotList::AddFolder(UniqueFd folder, std::vector<std::string>* snapshotFolders) {
    struct stat st;
    if (::fstat(folder.Get(), &st) != 0)
        return errno;
    if (!OnlyRootCanWrite(st))
        return 0;                                             // anyone might have put names there
    const bool ownFolder = st.st_ino != kSubvolumeRootInode;  // a snapshot's own folder
    if (ownFolder) {
        // Where others may move such a folder about, what it holds is not taken for ours.
        struct stat parent;
        const UniqueFd up(::openat(folder.Get(), "..", kFolderFlags));
        if (!up.Valid() || ::fstat(up.Get(), &parent) != 0 || !OnlyRootCanWrite(parent))
            return 0;
    }
    std::vector<std::string> names;
    const int error = ListDirectory(folder.Get(), names);
    if (error != 0)
        return error;
    std::vector<VSS_ID> recorded;
    for (const std::string& name : names) {
        StoredSnapshot snapshot;
        if (!ParseRecordFileName(name, snapshot.record))
            continue;
        snapshot.folder = folder.Get();
        snapshot.snapshotExists =
            IsSubvolumeRootEntry(folder.Get(), GuidText(snapshot.record.snapshotId));
        recorded.push_back(snapshot.record.snapshotId);
        snapshots_.push_back(snapshot);
    }
    for (const std::string& name : names) {
        GUID id;
        if (!ParseGuid(name, id) || GuidText(id) != name ||
            std::find(recorded.begin(), recorded.end(), id) != recorded.end())
            continue;
        if (!IsSubvolumeRootEntry(folder.Get(), name)) {
            if (snapshotFolders != nullptr)
                snapshotFolders->push_back(name);
        } else if (ownFolder) {
            StoredSnapshot snapshot;
            snapshot.folder = folder.Get();
            snapshot.record.snapshotId = id;
            snapshot.snapshotExists = snapshot.recordGone = true;
            snapshots_.push_back(snapshot);
        }
    }
    folders_.push_back(std::move(folder));
    return 0;
}

void RemoveAbandonedSnapshots(VolumeCalls& calls, const StoredSnapshotList& list,
                              const std::string& mountPoint, DeletionTally* tally) {
    for (const StoredSnapshot& snapshot : list.Snapshots()) {
        if (snapshot.snapshotExists && !IsAutoRelease(snapshot.record.context))
            continue;  // persistent: it stays until it is deleted
        RecordClaim claim;
        bool abandoned = false;
        const std::string name = RecordFileName(snapshot.record);
        if (ClaimAbandonedRecord(snapshot.folder, snapshot.recordGone ? nullptr : name.c_str(),
                                 claim, abandoned) != 0 ||
            !abandoned)
            continue;
        const int error = RemoveSnapshot(calls, snapshot.folder, snapshot.record);
        if (tally != nullptr && snapshot.snapshotExists)
            tally->Count(snapshot.record.snapshotId, error,
                         mountPoint + " (snapshot " + GuidText(snapshot.record.snapshotId) + ")");
    }
    for (const auto& empty : list.emptyFolders_) {
        const UniqueFd folder(::openat(empty.first, empty.second.c_str(), kFolderFlags));
        RecordClaim claim;
        bool abandoned = false;
        if (folder.Valid() && ClaimAbandonedRecord(folder.Get(), nullptr, claim, abandoned) == 0 &&
            abandoned)
            calls.RemoveFolder(empty.first, empty.second.c_str());
    }
}

void SweepAbandonedSnapshots(VolumeCalls& calls, int fsFd, int storeFd) {
    StoredSnapshotList list;
    if (storeFd >= 0)
        list.Read(fsFd, {storeFd}, Reach::kStores);
    else
        list.Read(fsFd, {}, Reach::kWholeTree);
    RemoveAbandonedSnapshots(calls, list, "", nullptr);
}

void SweepUnpublishedStores(VolumeCalls& calls, int mountRootFd) {
    std::vector<std::string> names;
    if (ListDirectory(mountRootFd, names) != 0)
        return;
    for (const std::string& name : names) {
        struct stat st;
        if (StoreNameKind(name.c_str()) != StoreName::kInMaking ||
            ::fstatat(mountRootFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !IsStoreEntry(name.c_str(), st) || st.st_ino != kSubvolumeRootInode || st.st_size != 0)
            continue;
        calls.DestroySnapshot(mountRootFd, name.c_str());
    }
}

}  // namespace quorlin
