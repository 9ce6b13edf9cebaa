// GetVolumePathName on POSIX: the subvolume root on btrfs, else the mount point.
#include "platform/Platform.h"
#include "platform/posix/Utf8.h"
#include "posix/BtrfsFixture.h"

#include <cerrno>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorlin {
namespace testing {
namespace {

using VolumeLookupTest = BtrfsTest;

std::string Lookup(const std::string& path) {
    wchar_t root[MAX_PATH] = L"";
    if (!PlatformHost().GetVolumePathName(FromUtf8(path).c_str(), root, MAX_PATH))
        return "errno " + std::to_string(errno);
    return ToUtf8(root);
}

TEST_F(VolumeLookupTest, PathsResolveToTheVolumeThatHoldsThem) {
    const std::string volume = NewSubvolume("lookup");
    ::mkdir((volume + "/dir").c_str(), 0755);
    WriteFile(volume + "/dir/file", "x");
    ASSERT_EQ(0, ::symlink((volume + "/dir").c_str(), (Tmpfs() + "/link").c_str()));
    RemoveAfterTest(Tmpfs() + "/link");

    // A tmpfs inside the subvolume, and bind mounts of the subvolume and of a plain
    // directory in it (one under a name that the mount table escapes).
    const std::string nested = volume + "/nested";
    const std::string boundVolume = ScratchPath() + "/bound volume";
    const std::string boundDirectory = ScratchPath() + "/bound-dir";
    for (const std::string& point : {nested, boundVolume, boundDirectory}) {
        ::mkdir(point.c_str(), 0755);
        RemoveAfterTest(point);
    }
    ASSERT_EQ(0, ::mount("quorlin-nested", nested.c_str(), "tmpfs", 0, "size=1m"));
    ASSERT_EQ(0, ::mount(volume.c_str(), boundVolume.c_str(), nullptr, MS_BIND, nullptr));
    ASSERT_EQ(
        0, ::mount((volume + "/dir").c_str(), boundDirectory.c_str(), nullptr, MS_BIND, nullptr));

    const struct {
        std::string path, root;
    } cases[] = {
        {volume + "/dir/file", volume + "/"},
        {volume + "/dir/", volume + "/"},
        {volume, volume + "/"},
        {volume + "/dir/../dir/./file", volume + "/"},
        {volume + "/missing/deeper/file", volume + "/"},  // through the nearest ancestor
        {FirstBtrfs() + "/top-level-file", FirstBtrfs() + "/"},
        {Tmpfs() + "/file", Tmpfs() + "/"},
        {Tmpfs() + "/link/file", volume + "/"},  // a link leads to its target's volume
        {nested + "/file", nested + "/"},
        {boundVolume + "/dir/file", boundVolume + "/"},
        {boundDirectory + "/file", boundDirectory + "/"},  // the subvolume root is not in reach
        {"/", "/"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.root, Lookup(c.path)) << c.path;
}

TEST_F(VolumeLookupTest, FailuresCarryAnErrno) {
    EXPECT_EQ("errno " + std::to_string(EINVAL), Lookup(""));
    wchar_t small[4];
    EXPECT_FALSE(PlatformHost().GetVolumePathName(FromUtf8(FirstBtrfs()).c_str(), small, 4));
    EXPECT_EQ(ENAMETOOLONG, errno);
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
