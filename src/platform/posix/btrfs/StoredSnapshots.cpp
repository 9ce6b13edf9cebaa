#include "platform/posix/btrfs/StoredSnapshots.h"

#include "platform/posix/btrfs/BtrfsIoctl.h"
#include "platform/posix/btrfs/BtrfsTree.h"
#include "platform/posix/btrfs/Guid.h"
#include "platform/posix/btrfs/TrustedPath.h"

#include <cerrno>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <utility>

namespace quorlin {

namespace {

using FolderId = std::pair<uint64_t, uint64_t>;  // subvolume, inode

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

}  // namespace

int StoredSnapshotList::Read(int fsFd, const std::vector<int>& stores) {
    int firstError = 0;
    auto note = [&](int error) {
        if (firstError == 0)
            firstError = error;
    };
    std::set<FolderId> seen;
    for (int store : stores) {
        FolderId id;
        bool empty = false;
        int error = FolderIdOf(store, id, empty);
        if (error == 0 && !empty && seen.insert(id).second) {
            UniqueFd copy(::fcntl(store, F_DUPFD_CLOEXEC, 0));
            error = copy.Valid() ? AddFolder(std::move(copy)) : errno;
        }
        note(error);
    }
    std::vector<SubvolumeLink> links;
    note(ListSubvolumeLinks(fsFd, links));
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

int StoredSnapshotList::AddFolder(UniqueFd folder) {
    struct stat st;
    if (::fstat(folder.Get(), &st) != 0)
        return errno;
    if (!OnlyRootCanWrite(st))
        return 0;  // anyone might have put names there
    std::vector<std::string> names;
    const int error = ListDirectory(folder.Get(), names);
    if (error != 0)
        return error;
    for (const std::string& name : names) {
        StoredSnapshot snapshot;
        if (!ParseRecordFileName(name, snapshot.record))
            continue;
        snapshot.folder = folder.Get();
        struct stat entry;
        snapshot.snapshotExists =
            ::fstatat(folder.Get(), GuidText(snapshot.record.snapshotId).c_str(), &entry,
                      AT_SYMLINK_NOFOLLOW) == 0;
        snapshots_.push_back(snapshot);
    }
    folders_.push_back(std::move(folder));
    return 0;
}

void RemoveAbandonedSnapshots(VolumeCalls& calls, const StoredSnapshotList& list,
                              const std::string& mountPoint, DeletionTally* tally) {
    for (const StoredSnapshot& snapshot : list.Snapshots()) {
        if (snapshot.snapshotExists && !IsAutoRelease(snapshot.record.context))
            continue;  // persistent: it stays until it is deleted
        UniqueFd claim;
        bool abandoned = false;
        if (ClaimAbandonedRecord(snapshot.folder, RecordFileName(snapshot.record), claim,
                                 abandoned) != 0 ||
            !abandoned)
            continue;
        const int error = RemoveSnapshot(calls, snapshot.folder, snapshot.record);
        if (tally != nullptr && snapshot.snapshotExists)
            tally->Count(snapshot.record.snapshotId, error,
                         SnapshotPath(mountPoint, snapshot.record.snapshotId));
    }
}

void SweepAbandonedSnapshots(VolumeCalls& calls, int fsFd, int storeFd) {
    StoredSnapshotList list;
    list.Read(fsFd, storeFd >= 0 ? std::vector<int>{storeFd} : std::vector<int>{});
    RemoveAbandonedSnapshots(calls, list, "", nullptr);
}

}  // namespace quorlin
