// The snapshot set of one components object: its volumes, their snapshots on disk, and
// how they are taken, rolled back and deleted. The snapshots that lie on one file system
// are taken in one transaction (SimultaneousSnapshots.h), which the set checks; a set that
// comes out split is taken again, a few times, and then says what it is (SetInstant).
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_SNAPSHOT_SET_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_SNAPSHOT_SET_H

#include "platform/posix/btrfs/BtrfsVolume.h"
#include "platform/posix/btrfs/SnapshotStore.h"
#include "platform/posix/writers/Cancellation.h"
#include "platform/Requester.h"

#include <array>
#include <string>
#include <vector>

namespace quorlin {

class SnapshotSet {
public:
    // A mount that holds volumes of the set: its root and its store, opened once for all.
    struct Mount {
        std::string point;
        UniqueFd root;
        UniqueFd store;  // invalid until the store exists
        std::string storeName;
        std::array<uint8_t, 16> fileSystem{};
    };
    struct Member {
        std::wstring volumeName;  // as AddToSnapshotSet was given it
        BtrfsVolume volume;       // its root is closed once the set is taken
        size_t mount = 0;         // index into the set's mounts
        VSS_ID snapshotId = GUID_NULL;
        UniqueFd folder;          // the snapshot's own folder, locked while the owner lives
        bool folderMade = false;  // that folder exists
        bool recorded = false;    // its record exists
        bool taken = false;       // its snapshot exists
    };

    explicit SnapshotSet(VolumeCalls& calls) : calls_(calls) {}

    void Start(const VSS_ID& id, LONG context);
    const VSS_ID& Id() const { return id_; }
    size_t Size() const { return members_.size(); }
    // Whether the subvolume of `volume` is in the set already, under whatever name.
    bool Contains(const BtrfsVolume& volume) const;
    // Whether a volume of the file system `fileSystem` is in the set already.
    bool HasFileSystem(const std::array<uint8_t, 16>& fileSystem) const;
    void Add(std::wstring volumeName, BtrfsVolume volume, const VSS_ID& snapshotId);

    // The devices of the members' subvolumes (each btrfs subvolume has a device of its own).
    std::vector<dev_t> Devices() const;

    // Records and then takes every snapshot, those of each file system in one transaction,
    // all file systems at once. On a failure removes what it made, commits that removal
    // and returns the failure. `cancel`, when it fires, ends the tries of a split set.
    HRESULT Take(const Cancellation* cancel = nullptr);
    // Removes what Take made (when the writers fail the set after it) and commits that.
    void RollBack();
    // What the last Take made of the set.
    const SetInstant& Instant() const { return instant_; }

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
    // Takes the snapshots of every member at once; 0 or the first failure, with
    // `failedPath` naming its volume.
    int TakeAll(double& window, std::string& failedPath);
    // How many members lie on the file system `fileSystem`.
    size_t SnapshotsOn(const std::array<uint8_t, 16>& fileSystem) const;
    // How many file systems of the set hold their snapshots in one transaction, of
    // `fileSystems`.
    int CountWhole(int& fileSystems);
    // Removes the member's snapshot, its record and its folder, and lets the folder's lock
    // go; 0 or the errno of the failed removal of the snapshot or the record (a folder that
    // cannot go yet stays for the next try, or a sweep).
    int Discard(Member& member);
    // Commits on every file system where `touched` members live.
    int CommitFor(const std::vector<Member*>& touched, std::string& failedMount);

    VolumeCalls& calls_;
    VSS_ID id_ = GUID_NULL;
    LONG context_ = VSS_CTX_BACKUP;
    long ownerPid_ = 0;
    std::vector<Mount> mounts_;
    std::vector<Member> members_;
    SetInstant instant_;
};

}  // namespace quorlin

#endif
