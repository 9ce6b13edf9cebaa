#include "BtrfsScratch.h"

#include "ToolProcess.h"

#include <algorithm>
#include <cstdlib>
#include <unistd.h>

namespace tooltest {

std::string BtrfsScratch::WhyNot() {
    if (geteuid() != 0)
        return "the tool's btrfs tests need root (loop devices and mounts)";
    if (std::system("command -v mkfs.btrfs >/dev/null && command -v losetup >/dev/null") != 0)
        return "the tool's btrfs tests need btrfs-progs and util-linux (scripts/install-deps)";
    return "";
}

BtrfsScratch::BtrfsScratch() {
    char folder[] = "/tmp/quorlin-tool-btrfs-XXXXXX";
    folder_ = mkdtemp(folder);
    Shell(
        "cd " + folder_ +
        " && truncate -s 256M image && mkfs.btrfs -q image >/dev/null 2>&1"
        " && mkdir volume tmpfs outside && mount -o loop image volume"
        " && mount -t tmpfs quorlin-test tmpfs && btrfs subvolume create volume/nested >/dev/null");
}

BtrfsScratch::~BtrfsScratch() {
    // The loop device goes with the last unmount of its file system.
    std::system(("umount " + Tmpfs() + " 2>/dev/null; umount " + Volume() +
                 " 2>/dev/null; rm -rf " + folder_)
                    .c_str());
}

int BtrfsScratch::SubvolumeCount() const {
    std::string list = Shell("btrfs subvolume list " + Volume());
    return static_cast<int>(std::count(list.begin(), list.end(), '\n'));
}

}  // namespace tooltest
