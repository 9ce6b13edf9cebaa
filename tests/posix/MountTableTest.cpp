// The one reader of the mount table: its fields as the kernel escapes them, and which of
// several mounts at one place shows.
#include "base/posix/MountTable.h"
#include "base/posix/UniqueFd.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// A mount table of `text`, read as the kernel's would be.
std::vector<quorlin::Mount> Read(const std::string& text) {
    const quorlin::UniqueFd fd(memfd_create("mountinfo", MFD_CLOEXEC));
    EXPECT_TRUE(fd.Valid());
    EXPECT_EQ(static_cast<ssize_t>(text.size()), write(fd.Get(), text.data(), text.size()));
    std::vector<quorlin::Mount> mounts;
    EXPECT_EQ(0, quorlin::ReadMountTable(fd.Get(), mounts));
    return mounts;
}

const char kTable[] =
    "22 1 0:21 / / rw,relatime shared:1 - btrfs /dev/loop0 rw\n"
    "30 22 0:30 /srv\\040data /mnt/my\\040data rw master:2 shared:3 - btrfs /dev/loop1 rw\n"
    "31 22 0:31 / /mnt/my\\040data rw - tmpfs tmpfs rw\n"
    "32 31 0:32 /a /mnt/my\\040data/b rw - ext4 /dev/sda1 rw\n";

TEST(MountTable, FieldsAreReadWithTheirEscapesUndone) {
    const std::vector<quorlin::Mount> mounts = Read(kTable);
    ASSERT_EQ(4u, mounts.size());
    struct Row {
        const char* mountPoint;
        const char* type;
        const char* root;
        const char* device;
    } rows[] = {
        {"/", "btrfs", "/", "0:21"},
        {"/mnt/my data", "btrfs", "/srv data", "0:30"},
        {"/mnt/my data", "tmpfs", "/", "0:31"},
        {"/mnt/my data/b", "ext4", "/a", "0:32"},
    };
    for (size_t i = 0; i < mounts.size(); ++i) {
        EXPECT_EQ(rows[i].mountPoint, mounts[i].mountPoint) << i;
        EXPECT_EQ(rows[i].type, mounts[i].fileSystemType) << i;
        EXPECT_EQ(rows[i].root, mounts[i].root) << i;
        EXPECT_EQ(rows[i].device, mounts[i].device) << i;
    }
}

TEST(MountTable, OfSeveralMountsAtOnePlaceTheLastShowsToBothReaders) {
    const std::vector<quorlin::Mount> mounts = Read(kTable);
    const std::vector<quorlin::Mount> shown = quorlin::ShownMounts(mounts);
    ASSERT_EQ(3u, shown.size());
    EXPECT_EQ("tmpfs", shown[1].fileSystemType);
    struct Row {
        const char* path;
        const char* type;
    } rows[] = {
        {"/mnt/my data/x", "tmpfs"},
        {"/mnt/my data", "tmpfs"},
        {"/mnt/my data/b/c", "ext4"},
        {"/mnt/my", "btrfs"},
        {"/", "btrfs"},
    };
    for (const Row& row : rows) {
        const quorlin::Mount* found = quorlin::FindMount(mounts, row.path);
        ASSERT_NE(nullptr, found) << row.path;
        EXPECT_EQ(row.type, found->fileSystemType) << row.path;
    }
}

}  // namespace
