// GetVolumePathName on POSIX: the subvolume root on btrfs, else the mount point; and the
// same answers from a lookup session, which remembers folders between lookups.
#include "platform/Platform.h"
#include "platform/posix/Utf8.h"
#include "posix/BtrfsFixture.h"
#include "posix/ScratchVolume.h"

#include <cerrno>
#include <functional>
#include <memory>
#include <fcntl.h>
#include <sched.h>
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

// What the workflows ask for one path: its full path, then the volume of that full path;
// or, with `direct`, the volume of the path as given.
struct Answer {
    std::string fullPath, root;
    bool operator==(const Answer& other) const {
        return fullPath == other.fullPath && root == other.root;
    }
};

std::ostream& operator<<(std::ostream& out, const Answer& answer) {
    return out << "{" << answer.fullPath << ", " << answer.root << "}";
}

std::string Failure() { return "errno " + std::to_string(errno); }

Answer LookUp(const std::wstring& path, bool direct = false) {
    Answer answer;
    std::wstring full;
    size_t sizing = 0;
    if (!direct && !PlatformHost().GetFullPathName(path.c_str(), full, sizing))
        return {Failure(), ""};
    if (!direct) {
        EXPECT_EQ(0, ToUtf8Exact(full.data(), full.size(), answer.fullPath));
    }
    wchar_t root[MAX_PATH] = L"";
    const bool found =
        PlatformHost().GetVolumePathName(direct ? path.c_str() : full.c_str(), root, MAX_PATH);
    if (!found) {
        answer.root = Failure();
    } else {
        EXPECT_EQ(0, ToUtf8Exact(root, std::wcslen(root), answer.root));
    }
    return answer;
}

Answer LookUp(const std::string& path, bool direct = false) {
    return LookUp(FromUtf8(path), direct);
}

// A lookup session of the real host for the life of the scope.
class Session {
public:
    Session() { PlatformHost().BeginVolumeLookups(); }
    ~Session() { PlatformHost().EndVolumeLookups(); }
};

TEST_F(VolumeLookupTest, ASessionAnswersAsSingleLookups) {
    const std::string volume = NewSubvolume("bulk");
    const std::string inner = NewSubvolume("inner", volume);
    const std::string target = SecondBtrfs() + "/target";
    const std::string nested = volume + "/nested";
    for (const std::string& dir : {volume + "/dir", target, nested})
        ::mkdir(dir.c_str(), 0755);
    RemoveAfterTest(target);
    WriteFile(volume + "/dir/file", "x");
    WriteFile(volume + "/dir/file-mount", "");
    WriteFile(target + "/file", "y");
    ASSERT_EQ(0, ::symlink(target.c_str(), (volume + "/to-second").c_str()));
    ASSERT_EQ(0, ::symlink("../../../second/target/file", (volume + "/dir/leaf-link").c_str()));
    ASSERT_EQ(0, ::mount("quorlin-bulk", nested.c_str(), "tmpfs", 0, "size=1m"));
    RemoveAfterTest(nested);
    ASSERT_EQ(0, ::mount((target + "/file").c_str(), (volume + "/dir/file-mount").c_str(), nullptr,
                         MS_BIND, nullptr));
    RemoveAfterTest(volume + "/dir/file-mount");
    const std::string second = SecondBtrfs() + "/";

    const struct {
        std::string path, fullPath, root;
    } cases[] = {
        {volume + "/dir/file", volume + "/dir/file", volume + "/"},
        {volume + "/dir/missing", volume + "/dir/missing", volume + "/"},  // the same folder
        {volume + "/dir/leaf-link", target + "/file", second},             // a link as the name
        {volume + "/to-second/file", target + "/file", second},            // a linked folder
        {volume + "/to-second/missing", target + "/missing", second},
        {volume + "/dir//file/", volume + "/dir/file", volume + "/"},
        {inner, inner, inner + "/"},  // a subvolume root as the name
        {inner + "/missing", inner + "/missing", inner + "/"},
        {nested, nested, nested + "/"},  // a mount point as the name
        {nested + "/missing/deeper/file", nested + "/missing/deeper/file", nested + "/"},
        {nested + "/missing/deeper/other", nested + "/missing/deeper/other", nested + "/"},
        {volume + "/dir/file-mount", volume + "/dir/file-mount", volume + "/dir/file-mount/"},
        {volume + "/dir/file/below", volume + "/dir/file/below", volume + "/"},  // below a file
        {volume + "/dir/.", volume + "/dir", volume + "/"},
        {volume + "/dir/..", volume, volume + "/"},
        {volume + "/missing/../dir/file", volume + "/dir/file", volume + "/"},
        {volume + "/missing/./deeper", volume + "/missing/deeper", volume + "/"},
        {volume + "/" + std::string(256, 'n'), "errno " + std::to_string(ENAMETOOLONG), ""},
        {"/", "/", "/"},
    };
    for (const auto& c : cases)
        ASSERT_EQ((Answer{c.fullPath, c.root}), LookUp(c.path)) << c.path;
    Session session;
    for (int round = 0; round < 2; ++round) {
        for (const auto& c : cases) {
            EXPECT_EQ((Answer{c.fullPath, c.root}), LookUp(c.path)) << c.path << " " << round;
            EXPECT_EQ((Answer{"", c.root.empty() ? c.fullPath : c.root}), LookUp(c.path, true))
                << c.path << " " << round;
        }
    }
}

// A session checks what may have changed since it last looked: the mount table at every
// lookup, a missing folder, the path's own name.
TEST_F(VolumeLookupTest, ASessionSeesChangesBetweenLookups) {
    const std::string volume = NewSubvolume("changes");
    const std::string target = SecondBtrfs() + "/moved-target";
    for (const std::string& dir : {volume + "/dir", volume + "/mount", volume + "/unmount", target})
        ::mkdir(dir.c_str(), 0755);
    RemoveAfterTest(target);
    RemoveAfterTest(volume + "/mount");
    ASSERT_EQ(0, ::mount("quorlin-gone", (volume + "/unmount").c_str(), "tmpfs", 0, "size=1m"));
    RemoveAfterTest(volume + "/unmount");
    auto link = [&](const std::string& name) {
        return [&, name] { ASSERT_EQ(0, ::symlink(target.c_str(), (volume + name).c_str())); };
    };

    const struct {
        const char* what;
        std::string first;
        std::function<void()> change;
        std::string second, fullPath, root;
    } cases[] = {
        {"a folder appears as a link", volume + "/appears/a", link("/appears"),
         volume + "/appears/b", target + "/b", SecondBtrfs() + "/"},
        {"a missing folder's ancestor appears as a link", volume + "/gone/deeper/a", link("/gone"),
         volume + "/gone/deeper/b", target + "/deeper/b", SecondBtrfs() + "/"},
        {"a folder appears as a subvolume", volume + "/sub/a",
         [&] { ASSERT_TRUE(MakeSubvolume(volume + "/sub")); }, volume + "/sub/b", volume + "/sub/b",
         volume + "/sub/"},
        {"a missing name becomes a link", volume + "/dir/name", link("/dir/name"),
         volume + "/dir/name", target, SecondBtrfs() + "/"},
        {"a mount appears on the folder", volume + "/mount/a",
         [&] {
             ASSERT_EQ(0,
                       ::mount("quorlin-new", (volume + "/mount").c_str(), "tmpfs", 0, "size=1m"));
         },
         volume + "/mount/b", volume + "/mount/b", volume + "/mount/"},
        {"a mount goes away", volume + "/unmount/a",
         [&] { ASSERT_EQ(0, ::umount((volume + "/unmount").c_str())); }, volume + "/unmount/b",
         volume + "/unmount/b", volume + "/"},
    };
    for (const auto& c : cases) {
        Answer before, after;
        {
            Session session;
            before = LookUp(c.first);
            c.change();
            after = LookUp(c.second);
        }
        EXPECT_NE("errno", before.fullPath.substr(0, 5)) << c.what;
        EXPECT_EQ((Answer{c.fullPath, c.root}), after) << c.what;
        EXPECT_EQ(LookUp(c.second), after) << c.what;
    }
}

// Single lookups share one copy of the mount table in the process. Whatever makes the
// copy wrong is noticed: a mount, a namespace of the process's own, the copy's descriptor
// closed and its number given to another file, and a child made by fork, which must not
// take the parent's notices.
TEST_F(VolumeLookupTest, TheSharedMountTableNoticesWhatChangesIt) {
    const std::string volume = NewSubvolume("shared");
    const std::string folder = volume + "/mount";
    ASSERT_EQ(0, ::mkdir(folder.c_str(), 0755));
    RemoveAfterTest(folder);
    auto mount = [&] { return ::mount("quorlin-shared", folder.c_str(), "tmpfs", 0, "size=1m"); };
    auto ownNamespace = [&] {
        return ::unshare(CLONE_NEWNS) != 0 ||
                       ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
                   ? -1
                   : mount();
    };
    auto descriptorTaken = [&] {
        for (int fd = 3; fd < 1024; ++fd) {
            char target[64] = "";
            const std::string link = "/proc/self/fd/" + std::to_string(fd);
            if (::readlink(link.c_str(), target, sizeof target - 1) > 0 &&
                std::string(target).find("mountinfo") != std::string::npos)
                ::dup2(::open("/dev/null", O_RDONLY), fd);
        }
        return mount();
    };
    auto inChild = [&] {
        const std::string seen = RunInChild([&] {
            const int made = mount();
            return std::to_string(made) + Lookup(folder + "/a");  // takes the child's notice
        });
        return seen == "0" + folder + "/" ? 0 : -1;
    };
    const struct {
        const char* what;
        std::function<int()> change;
        bool inOwnProcess;  // else in a child, so that the test's namespace stays as it is
    } cases[] = {
        {"a mount", mount, false},
        {"a namespace of its own", ownNamespace, false},
        {"the descriptor closed and taken", descriptorTaken, false},
        {"a mount in a child made by fork", inChild, true},
    };
    for (const auto& c : cases) {
        auto lookUpAround = [&] {
            const std::string before = Lookup(folder + "/a");
            const int changed = c.change();
            return before + " | " + std::to_string(changed) + " | " + Lookup(folder + "/a");
        };
        const std::string seen = c.inOwnProcess ? lookUpAround() : RunInChild(lookUpAround);
        EXPECT_EQ(volume + "/ | 0 | " + folder + "/", seen) << c.what;
        ::umount2(folder.c_str(), MNT_DETACH);
    }
}

// A name that is not UTF-8 travels as wide text with U+DC80-U+DCFF for its bytes, and the
// lookups hand back the very name, not another one (a real U+FFFD is another name). A
// path written with a unit that has no byte form is no name at all: EILSEQ.
TEST_F(VolumeLookupTest, NamesThatAreNotUtf8ComeBackExactly) {
    const std::string volume = NewSubvolume("names");
    for (const std::string& dir : {volume + "/\xFF", volume + "/\xEF\xBF\xBD"})
        ::mkdir(dir.c_str(), 0755);
    ASSERT_TRUE(MakeSubvolume(volume + "/\xFE"));
    ASSERT_EQ(0, ::symlink((volume + "/\xFF").c_str(), (volume + "/to-ff").c_str()));
    ASSERT_EQ(0, ::symlink((volume + "/\xFE").c_str(), (volume + "/to-fe").c_str()));
    const std::wstring wide = FromUtf8(volume);
    const std::string eilseq = "errno " + std::to_string(EILSEQ);

    const struct {
        std::wstring path;
        bool direct;         // the volume of the path as given, without its full path first
        std::string answer;  // the full path, or with `direct` the volume root
    } cases[] = {
        {wide + L"/to-ff/file", false, volume + "/\xFF/file"},   // the full path is not UTF-8
        {wide + L"/to-fe/file", true, volume + "/\xFE/"},        // the volume root is not UTF-8
        {wide + L"/\xDCFF/file", false, volume + "/\xFF/file"},  // the byte, written as wide text
        {wide + L"/\xD800/file", false, eilseq},                 // a lone surrogate: no name
        {wide + L"/\xD800/file", true, eilseq},
        {wide + L"/\x110000", false, eilseq},
    };
    for (bool inSession : {false, true}) {
        const std::unique_ptr<Session> session(inSession ? new Session : nullptr);
        for (const auto& c : cases) {
            const Answer answer = LookUp(c.path, c.direct);
            EXPECT_EQ(c.answer, c.direct ? answer.root : answer.fullPath)
                << ToUtf8(c.path) << (inSession ? " in a session" : "");
        }
    }
    EXPECT_EQ((Answer{volume + "/\xEF\xBF\xBD/file", volume + "/"}),
              LookUp(wide + L"/\xFFFD/file"));
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
