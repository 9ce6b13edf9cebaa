#include "BtrfsScratch.h"

#include "ToolProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/mount.h>
#include <sys/stat.h>

namespace tooltest {

std::string BtrfsScratch::WhyNot() { return quorlin::testing::BtrfsUnavailableReason(); }

BtrfsScratch::BtrfsScratch() {
    std::string error;
    bool made =
        area_.Create(error) && chmod(area_.Path().c_str(), 0711) == 0 &&
        area_.MountBtrfs("volume", 256, volume_, error) &&
        area_.MountTmpfs("tmpfs", tmpfs_, error) && quorlin::testing::MakeSubvolume(Nested()) &&
        mkdir(Outside().c_str(), 0755) == 0 &&
        quorlin::testing::RunQuietly("truncate -s 8M " + Small() + ".img && mkfs.ext4 -q -F " +
                                     Small() + ".img && mkdir " + Small() + " && mount -o loop " +
                                     Small() + ".img " + Small()) == 0 &&
        mkdir(Bare().c_str(), 0755) == 0 &&
        mount("quorlin-scratch", Bare().c_str(), "ramfs", 0, nullptr) == 0;
    EXPECT_TRUE(made) << "cannot make the scratch volumes: " << error;
}

int BtrfsScratch::SubvolumeCount() const {
    // Read-only ones only: the snapshot store is a subvolume too, and stays.
    std::string list = Shell("btrfs subvolume list -r " + Volume());
    return static_cast<int>(std::count(list.begin(), list.end(), '\n'));
}

}  // namespace tooltest
