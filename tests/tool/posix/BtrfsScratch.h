// Scratch volumes for the tool's tests, in the project's scratch area: a btrfs file system
// in an image file on a loop device, with a nested subvolume, and beside it a tmpfs, a
// small ext4 file system and a ramfs. Other users may pass through the area to what it holds.
// Removed at the end (or, after a crash, by the next run).
#ifndef QUORLIN_TESTS_BTRFS_SCRATCH_H
#define QUORLIN_TESTS_BTRFS_SCRATCH_H

#include "posix/ScratchVolume.h"

#include <string>

namespace tooltest {

class BtrfsScratch {
public:
    // Why the scratch volumes cannot be made here; empty when they can.
    static std::string WhyNot();

    // Fails the current test when the volumes cannot be made.
    BtrfsScratch();

    // The mount point: the file system's top-level subvolume, one volume.
    const std::string& Volume() const { return volume_; }
    // A subvolume inside it: another volume.
    std::string Nested() const { return volume_ + "/nested"; }
    // A tmpfs mount: a volume that cannot be snapshotted.
    const std::string& Tmpfs() const { return tmpfs_; }
    // A plain folder off the volumes, for copies (on the file system of /tmp).
    std::string Outside() const { return area_.Path() + "/outside"; }
    // A small ext4 file system (8 MB), that a copy fills.
    std::string Small() const { return area_.Path() + "/small"; }
    // A ramfs: a file system without extended attributes (ACLs among them).
    std::string Bare() const { return area_.Path() + "/bare"; }
    // How many snapshots (read-only subvolumes) the file system holds.
    int SubvolumeCount() const;

private:
    quorlin::testing::ScratchArea area_;
    std::string volume_;
    std::string tmpfs_;
};

}  // namespace tooltest

#endif  // QUORLIN_TESTS_BTRFS_SCRATCH_H
