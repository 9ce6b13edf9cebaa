#include "platform/posix/btrfs/StoredSnapshotDeletion.h"

#include "platform/posix/btrfs/ErrnoResult.h"
#include "platform/posix/btrfs/Guid.h"
#include "platform/posix/btrfs/MountedFileSystems.h"
#include "platform/posix/btrfs/StoredSnapshots.h"

namespace quorlin {

namespace {

bool Matches(const SnapshotRecord& record, const VSS_ID& id, VSS_OBJECT_TYPE type) {
    return type == VSS_OBJECT_SNAPSHOT_SET ? record.setId == id : record.snapshotId == id;
}

}  // namespace

bool DeleteStoredSnapshots(VolumeCalls& calls, const VSS_ID& id, VSS_OBJECT_TYPE type,
                           DeletionTally& tally) {
    bool matched = false;
    for (const MountedFileSystem& fileSystem : FindMountedFileSystems()) {
        StoredSnapshotList list;
        list.Read(fileSystem.root.Get(), fileSystem.StoreFds());
        bool matchedHere = false;
        for (const StoredSnapshot& snapshot : list.Snapshots()) {
            if (!Matches(snapshot.record, id, type))
                continue;
            matchedHere = true;
            tally.Count(
                snapshot.record.snapshotId, RemoveSnapshot(calls, snapshot.folder, snapshot.record),
                fileSystem.mountPoint + " (snapshot " + GuidText(snapshot.record.snapshotId) + ")");
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
