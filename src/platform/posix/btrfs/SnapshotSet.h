// The snapshot set of one components object: its volumes, their snapshots on disk, and
// how they are taken, rolled back and deleted.
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_SNAPSHOT_SET_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_SNAPSHOT_SET_H

#include "platform/posix/btrfs/BtrfsVolume.h"
#include "platform/posix/btrfs/SnapshotStore.h"

#include <string>
#include <vector>

namespace quorlin {

class SnapshotSet {
public:
    struct Member {
        std::wstring volumeName;  // as AddToSnapshotSet was given it
        BtrfsVolume volume;
        VSS_ID snapshotId = GUID_NULL;
        UniqueFd recordLock;    // held while the record exists: the owner lives
        bool recorded = false;  // its record exists
        bool taken = false;     // its snapshot exists
    };

    explicit SnapshotSet(VolumeCalls& calls) : calls_(calls) {}

    void Start(const VSS_ID& id, LONG context);
    const VSS_ID& Id() const { return id_; }
    size_t Size() const { return members_.size(); }
    // Whether the subvolume of `volume` is in the set already, under whatever name.
    bool Contains(const BtrfsVolume& volume) const;
    void Add(std::wstring volumeName, BtrfsVolume volume, const VSS_ID& snapshotId);

    // The devices of the members' subvolumes (each btrfs subvolume has a device of its own).
    std::vector<dev_t> Devices() const;

    // Records and then takes every snapshot, back to back. On a failure removes what it
    // made, commits that removal and returns the failure.
    HRESULT Take();
    // Removes what Take made (when the writers fail the set after it) and commits that.
    void RollBack();

    // The member whose snapshot `snapshotId` exists; null when there is none.
    const Member* FindTaken(const VSS_ID& snapshotId) const;
    // The directory under which the member's snapshot reads, without a trailing '/'.
    std::string DevicePath(const Member& member) const;

    // Deletes the existing snapshots (all, or only `snapshotId` when given), commits the
    // deletion and tallies it. False when no snapshot matched.
    bool Delete(const VSS_ID* snapshotId, DeletionTally& tally);
    // Deletes the snapshots that still exist in an auto-release context (no commit: a
    // snapshot that a crash brings back has a dead owner and is swept), and whatever
    // record an earlier failure left.
    void Release();

private:
    SnapshotRecord RecordOf(const Member& member) const;
    int Prepare(Member& member);
    // Removes the member's snapshot and record, or only its record when it has no
    // snapshot, and lets its record's lock go; 0 or the errno of the failed removal.
    int Discard(Member& member);
    // Commits on every file system where `touched` members live.
    int CommitFor(const std::vector<Member*>& touched, std::string& failedMount);

    VolumeCalls& calls_;
    VSS_ID id_ = GUID_NULL;
    LONG context_ = VSS_CTX_BACKUP;
    long ownerPid_ = 0;
    std::vector<Member> members_;
};

}  // namespace quorlin

#endif
