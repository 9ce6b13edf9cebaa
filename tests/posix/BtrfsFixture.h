// The fixture of the btrfs integration tests. One environment per run mounts two btrfs
// images and a tmpfs; each test gets fresh subvolumes and must leave no snapshot or record
// in the snapshot stores. Without root or loop devices every test is skipped with the reason.
#ifndef QUORLIN_TESTS_POSIX_BTRFS_FIXTURE_H
#define QUORLIN_TESTS_POSIX_BTRFS_FIXTURE_H

#include "platform/Requester.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace quorlin {
namespace testing {

class BtrfsTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Mount points of the two btrfs images and of the tmpfs.
    static const std::string& FirstBtrfs();
    static const std::string& SecondBtrfs();
    static const std::string& Tmpfs();
    // The scratch directory (on the host's own file system).
    static const std::string& ScratchPath();

    // A new subvolume `name` under `parent` (default: the first image), removed after the test.
    std::string NewSubvolume(const std::string& name, const std::string& parent = "");
    // Removes `path` after the test (e.g. a bind mount point or a directory).
    void RemoveAfterTest(const std::string& path) { cleanup_.push_back(path); }

    // A components object of the platform, initialized, with `context` set and a set
    // started (its identity into `setId`).
    ComPtr<BackupComponents> StartSet(LONG context, VSS_ID& setId);
    // Adds each volume (with a trailing '/') and takes the set; the snapshot identities
    // come back in order. Fails the test on any failure.
    std::vector<VSS_ID> TakeSet(const ComPtr<BackupComponents>& components,
                                const std::vector<std::string>& volumes);
    // The device object of a snapshot, as UTF-8.
    static std::string DevicePath(const ComPtr<BackupComponents>& components,
                                  const VSS_ID& snapshotId);
    // Whether the store of the mount at `mountPoint` exists.
    static bool StoreExists(const std::string& mountPoint);
    // The names in that store (none when it is missing).
    static std::vector<std::string> StoreEntries(const std::string& mountPoint);
    // Whether no snapshot and no record is left in the stores of both images.
    static bool NothingStored();

private:
    std::vector<std::string> cleanup_;
};

// Runs `body` in a forked child that exits as soon as it returns (no destructor runs,
// nothing is released: a crash as far as the library can tell). What `body` returned,
// once the child is gone.
std::string RunInChild(const std::function<std::string()>& body);

// Whole files.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content, bool append = false);
bool Exists(const std::string& path);
// What can be read from `fd` (a pipe's reading end) until its end.
std::string Drain(int fd);
// Waits up to five seconds until /proc/<pid>/stat shows the state letter `state` ('S':
// asleep, 'Z': ended, not yet reaped, or a leader whose thread alone has ended).
bool WaitForProcessState(long pid, char state);

}  // namespace testing
}  // namespace quorlin

#endif
