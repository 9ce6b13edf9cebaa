#include "platform/posix/btrfs/StoredSnapshotDeletion.h"

#include "platform/posix/btrfs/ErrnoResult.h"
#include "platform/posix/btrfs/Guid.h"
#include "platform/posix/MountTable.h"

#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <utility>

namespace quorlin {

namespace {

// Deletes what matches in one set directory; true when anything did.
bool DeleteFromSet(VolumeCalls& calls, int storeFd, const std::string& setName, const VSS_ID& id,
                   VSS_OBJECT_TYPE type, const std::string& mountPoint, DeletionTally& tally) {
    UniqueFd set;
    std::vector<SnapshotRecord> records;
    if (OpenPrivateDirectory(calls, storeFd, setName, false, set) != 0 ||
        ReadSetRecords(set.Get(), records) != 0)
        return false;
    bool matched = false;
    for (const SnapshotRecord& record : records) {
        if (type == VSS_OBJECT_SNAPSHOT && record.snapshotId != id)
            continue;
        matched = true;
        tally.Count(record.snapshotId, RemoveSnapshot(calls, set.Get(), record),
                    SnapshotPath(mountPoint, setName, record.snapshotId));
    }
    RemoveDirectoryIfEmpty(calls, storeFd, setName);
    return matched;
}

}  // namespace

bool DeleteStoredSnapshots(VolumeCalls& calls, const VSS_ID& id, VSS_OBJECT_TYPE type,
                           DeletionTally& tally) {
    std::vector<Mount> mounts;
    if (ReadMountTable(mounts) != 0)
        return false;
    std::set<std::pair<dev_t, ino_t>> seen;  // one file system may be mounted many times
    bool matched = false;
    for (const Mount& mount : mounts) {
        if (mount.fileSystemType != "btrfs")
            continue;
        UniqueFd root(::open(mount.mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        UniqueFd store;
        struct stat st;
        if (!root.Valid() ||
            OpenPrivateDirectory(calls, root.Get(), kStoreDirectoryName, false, store) != 0 ||
            ::fstat(store.Get(), &st) != 0 || !seen.insert({st.st_dev, st.st_ino}).second)
            continue;
        std::vector<std::string> setNames;
        if (type == VSS_OBJECT_SNAPSHOT_SET)
            setNames.push_back(GuidText(id));
        else if (ListDirectory(store.Get(), setNames) != 0)
            continue;
        bool matchedHere = false;
        for (const std::string& setName : setNames)
            matchedHere |=
                DeleteFromSet(calls, store.Get(), setName, id, type, mount.mountPoint, tally);
        if (!matchedHere)
            continue;
        matched = true;
        store.Reset();
        RemoveDirectoryIfEmpty(calls, root.Get(), kStoreDirectoryName);
        const int error = calls.Commit(root.Get());
        if (error != 0 && tally.firstFailure == S_OK)
            tally.firstFailure = ReportErrno("committing the deletion on", mount.mountPoint, error);
    }
    return matched;
}

}  // namespace quorlin
