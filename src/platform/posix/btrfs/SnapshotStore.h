// Where the service keeps snapshots: a directory ".quorlin" at the root of the mount that
// holds the volume, only root can enter it, one directory per set inside it, and in a set
// directory each snapshot (a read-only subvolume named by its identity) beside its record.
//
//   <mount>/.quorlin/<set id>/<snapshot id>          the snapshot, its device object
//   <mount>/.quorlin/<set id>/<snapshot id>.record.  its record (SnapshotRecord.h)
//
// Sets and the store itself are removed as soon as they are empty.
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_SNAPSHOT_STORE_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_SNAPSHOT_STORE_H

#include "platform/posix/btrfs/SnapshotRecord.h"
#include "platform/posix/UniqueFd.h"
#include "platform/posix/btrfs/VolumeCalls.h"

#include <string>
#include <vector>

namespace quorlin {

extern const char kStoreDirectoryName[];

// The path of the store of the mount at `mountPoint`.
std::string StorePath(const std::string& mountPoint);
// The path of the snapshot `snapshotId` of the set `setName` in that store: the
// snapshot's device object.
std::string SnapshotPath(const std::string& mountPoint, const std::string& setName,
                         const VSS_ID& snapshotId);

// Opens the directory `name` in `parentFd`, first creating it with mode 0700 when `create`
// and it is missing. Refuses a symbolic link (ELOOP) and anything but a directory of the
// caller's own that no one else may enter (EACCES), so that no one can slip a directory of
// theirs in. ENOENT when it is missing and not created.
int OpenPrivateDirectory(VolumeCalls& calls, int parentFd, const std::string& name, bool create,
                         UniqueFd& directory);

// The names in the directory `fd`, without "." and "..".
int ListDirectory(int fd, std::vector<std::string>& names);

// Removes the directory `name` in `parentFd` when it is empty; 0 also when it is not
// empty or already gone.
int RemoveDirectoryIfEmpty(VolumeCalls& calls, int parentFd, const std::string& name);

// The records in the set directory `setFd`; names that are not records are skipped.
int ReadSetRecords(int setFd, std::vector<SnapshotRecord>& records);

// Removes a snapshot, then its record, so that a snapshot never outlives its record.
// A snapshot already gone is not a failure. The removal is durable after Commit.
int RemoveSnapshot(VolumeCalls& calls, int setFd, const SnapshotRecord& record);

// The outcome of a deletion, as DeleteSnapshots reports it.
struct DeletionTally {
    LONG deleted = 0;
    VSS_ID firstNotDeleted = GUID_NULL;
    HRESULT firstFailure = S_OK;

    // Counts the snapshot `id` as deleted when `error` is 0, else as the first failure
    // unless there was one (keeping the errno in the trace).
    void Count(const VSS_ID& id, int error, const std::string& path);
};

// Removes from the store under `mountRootFd` the auto-release snapshots whose owner is
// gone, and the sets (and store) that this leaves empty. Persistent snapshots and those
// whose owner may still run stay. What cannot be removed now waits for a later sweep.
void SweepDeadOwners(VolumeCalls& calls, int mountRootFd, const ProcessIdentity& self);

}  // namespace quorlin

#endif
