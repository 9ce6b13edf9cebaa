// Scratch file systems for the btrfs tests and benchmark: btrfs images on loop devices
// and a tmpfs, mounted under one work directory per process and removed with it. A run
// that died leaves its directory behind; the next run removes it first.
#ifndef QUORLIN_TESTS_POSIX_SCRATCH_VOLUME_H
#define QUORLIN_TESTS_POSIX_SCRATCH_VOLUME_H

#include <string>
#include <vector>

namespace quorlin {
namespace testing {

// Why btrfs images cannot be made and mounted here; empty when they can.
std::string BtrfsUnavailableReason();

// Runs a shell command with its output discarded; its exit status.
int RunQuietly(const std::string& command);

class ScratchArea {
public:
    ScratchArea() = default;
    ScratchArea(const ScratchArea&) = delete;
    ScratchArea& operator=(const ScratchArea&) = delete;
    ~ScratchArea() { Remove(); }

    // Removes the areas of processes that are gone, then makes this process's own.
    // False with `error` set when that fails.
    bool Create(std::string& error);
    // Makes a btrfs image of `megabytes` and mounts it at <area>/<name>; its mount point.
    bool MountBtrfs(const std::string& name, int megabytes, std::string& mountPoint,
                    std::string& error);
    // Mounts a small tmpfs at <area>/<name>.
    bool MountTmpfs(const std::string& name, std::string& mountPoint, std::string& error);
    // Unmounts everything under the area (deepest first), detaches its loop devices and
    // removes it. Safe to call more than once.
    void Remove();

    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Removes `name` in the directory `path` whatever it holds: subvolumes and snapshots
// (read-only ones too) are destroyed, files and directories removed. True when gone.
bool RemoveTree(const std::string& path);

// Creates a subvolume at `path`. True on success.
bool MakeSubvolume(const std::string& path);

}  // namespace testing
}  // namespace quorlin

#endif
