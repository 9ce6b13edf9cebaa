// Scratch volumes for the tool's tests: a btrfs file system in an image file on a loop
// device, with a nested subvolume, and a tmpfs beside it. Removed at the end.
#ifndef QUORLIN_TESTS_BTRFS_SCRATCH_H
#define QUORLIN_TESTS_BTRFS_SCRATCH_H

#include <string>

namespace tooltest {

class BtrfsScratch {
public:
    // Why the scratch volumes cannot be made here; empty when they can.
    static std::string WhyNot();

    BtrfsScratch();
    ~BtrfsScratch();
    BtrfsScratch(const BtrfsScratch&) = delete;
    BtrfsScratch& operator=(const BtrfsScratch&) = delete;

    // The mount point: the file system's top-level subvolume, one volume.
    std::string Volume() const { return folder_ + "/volume"; }
    // A subvolume inside it: another volume.
    std::string Nested() const { return Volume() + "/nested"; }
    // A tmpfs mount: a volume that cannot be snapshotted.
    std::string Tmpfs() const { return folder_ + "/tmpfs"; }
    // A plain folder off the volumes, for copies.
    std::string Outside() const { return folder_ + "/outside"; }
    // How many subvolumes the file system holds (snapshots included).
    int SubvolumeCount() const;

private:
    std::string folder_;
};

}  // namespace tooltest

#endif  // QUORLIN_TESTS_BTRFS_SCRATCH_H
