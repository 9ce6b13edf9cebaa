#include "platform/posix/btrfs/StoredSnapshotDeletion.h"

#include "platform/posix/btrfs/BtrfsIoctl.h"
#include "platform/posix/btrfs/ErrnoResult.h"
#include "platform/posix/btrfs/StoredSnapshots.h"
#include "platform/posix/MountTable.h"

#include <array>
#include <fcntl.h>
#include <map>

namespace quorlin {

namespace {

// One mounted btrfs file system: a mount of it and the stores of all its mounts.
struct FileSystem {
    std::string mountPoint;
    UniqueFd root;
    std::vector<UniqueFd> stores;
};

// Every mounted btrfs file system once, however often it is mounted.
void FindFileSystems(std::map<std::array<uint8_t, 16>, FileSystem>& fileSystems) {
    std::vector<Mount> mounts;
    if (ReadMountTable(mounts) != 0)
        return;
    for (const Mount& mount : mounts) {
        if (mount.fileSystemType != "btrfs")
            continue;
        UniqueFd root(::open(mount.mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        std::array<uint8_t, 16> id;
        if (!root.Valid() || FileSystemIdOf(root.Get(), id) != 0)
            continue;
        FileSystem& fileSystem = fileSystems[id];
        UniqueFd store;
        if (OpenStore(root.Get(), store) == 0)
            fileSystem.stores.push_back(std::move(store));
        if (!fileSystem.root.Valid()) {
            fileSystem.mountPoint = mount.mountPoint;
            fileSystem.root = std::move(root);
        }
    }
}

bool Matches(const SnapshotRecord& record, const VSS_ID& id, VSS_OBJECT_TYPE type) {
    return type == VSS_OBJECT_SNAPSHOT_SET ? record.setId == id : record.snapshotId == id;
}

}  // namespace

bool DeleteStoredSnapshots(VolumeCalls& calls, const VSS_ID& id, VSS_OBJECT_TYPE type,
                           DeletionTally& tally) {
    std::map<std::array<uint8_t, 16>, FileSystem> fileSystems;
    FindFileSystems(fileSystems);
    bool matched = false;
    for (auto& entry : fileSystems) {
        FileSystem& fileSystem = entry.second;
        std::vector<int> stores;
        for (const UniqueFd& store : fileSystem.stores)
            stores.push_back(store.Get());
        StoredSnapshotList list;
        list.Read(fileSystem.root.Get(), stores);
        bool matchedHere = false;
        for (const StoredSnapshot& snapshot : list.Snapshots()) {
            if (!Matches(snapshot.record, id, type))
                continue;
            matchedHere = true;
            tally.Count(snapshot.record.snapshotId,
                        RemoveSnapshot(calls, snapshot.folder, snapshot.record),
                        SnapshotPath(fileSystem.mountPoint, snapshot.record.snapshotId));
        }
        if (!matchedHere)
            continue;
        matched = true;
        const int error = calls.Commit(fileSystem.root.Get());
        if (error != 0 && tally.firstFailure == S_OK)
            tally.firstFailure =
                ReportErrno("committing the deletion on", fileSystem.mountPoint, error);
    }
    return matched;
}

}  // namespace quorlin
