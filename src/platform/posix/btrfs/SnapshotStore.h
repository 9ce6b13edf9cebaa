// Where the service keeps snapshots: the store, a folder at the root of the mount that
// holds the volume (StoreIdentity.h: ".quorlin", or ".quorlin-<id>" where everyone may add
// names to the mount root), that only root can enter and that only root can replace. The
// service makes it a subvolume of its own (so that a snapshot of the mount's volume shows
// it empty and changes to it stay out of the volume's tree) and keeps it once made. In the
// store, each snapshot (a read-only subvolume named by its identity) lies in a folder of
// its own beside its record, so that the snapshots of a set can be taken at once (btrfs
// takes the snapshots into one folder one after another):
//
//   <mount>/.quorlin/<snapshot id>/<snapshot id>            the snapshot, its device object
//   <mount>/.quorlin/<snapshot id>/<snapshot id>.record.…   its record (SnapshotRecord.h)
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_SNAPSHOT_STORE_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_SNAPSHOT_STORE_H

#include "platform/posix/btrfs/SnapshotRecord.h"
#include "base/posix/StoreIdentity.h"
#include "platform/posix/btrfs/VolumeCalls.h"
#include "base/posix/Directory.h"
#include "base/posix/UniqueFd.h"

#include <string>
#include <vector>

namespace quorlin {

// The path of the store `storeName` of the mount at `mountPoint`.
std::string StorePath(const std::string& mountPoint,
                      const std::string& storeName = kStoreDirectoryName);
// The path of the snapshot `snapshotId` in that store: the snapshot's device object.
std::string SnapshotPath(const std::string& mountPoint, const std::string& storeName,
                         const VSS_ID& snapshotId);

// Opens the store in the mount root `mountRootFd` and puts its name into `storeName`.
// EACCES when others than root may write the mount root (unless it is sticky) and when the
// store is anything but a folder of root's that no one else may enter or replace (a link,
// someone else's folder, one that others may enter); `mountRootBlamed` (when given) tells
// whether the mount root is to blame. In a sticky mount root that others may write, a
// ".quorlin" that is not such a store is someone else's and passed over: the store there
// is root's ".quorlin", else the first ".quorlin-<id>" of root's. ENOENT when it is
// missing.
int OpenStore(int mountRootFd, UniqueFd& store, std::string& storeName,
              bool* mountRootBlamed = nullptr);
// OpenStore, making the store first when it is missing.
int OpenOrCreateStore(VolumeCalls& calls, int mountRootFd, UniqueFd& store, std::string& storeName);

// Removes a snapshot, then its record, so that a snapshot never outlives its record, then
// the snapshot's own folder `folderFd` when it is empty (never a store). A snapshot or
// record already gone is not a failure. The removal is durable after Commit.
int RemoveSnapshot(VolumeCalls& calls, int folderFd, const SnapshotRecord& record);

// The outcome of a deletion, as DeleteSnapshots reports it.
struct DeletionTally {
    LONG deleted = 0;
    VSS_ID firstNotDeleted = GUID_NULL;
    HRESULT firstFailure = S_OK;

    // Counts the snapshot `id` as deleted when `error` is 0, else as the first failure
    // unless there was one (keeping the errno in the trace).
    void Count(const VSS_ID& id, int error, const std::string& path);
};

}  // namespace quorlin

#endif
