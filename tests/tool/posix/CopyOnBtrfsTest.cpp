// `quorlin copy` on real btrfs volumes: what it keeps, what it never does as root in a
// destination that users can write to, and what it leaves when the destination fills.
#include "ToolOnBtrfs.h"
#include "TreeCompare.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace tooltest {
namespace {

// A POSIX ACL as the kernel stores it in system.posix_acl_*: (tag, permissions, id).
std::string Acl(
    const std::vector<std::tuple<std::uint16_t, std::uint16_t, std::uint32_t>>& entries) {
    std::string value(4, '\0');
    std::uint32_t version = 2;
    std::memcpy(&value[0], &version, 4);
    for (const auto& entry : entries) {
        char bytes[8];
        std::uint16_t tag = std::get<0>(entry);
        std::uint16_t permissions = std::get<1>(entry);
        std::uint32_t id = std::get<2>(entry);
        std::memcpy(bytes, &tag, 2);
        std::memcpy(bytes + 2, &permissions, 2);
        std::memcpy(bytes + 4, &id, 4);
        value.append(bytes, 8);
    }
    return value;
}
const std::uint32_t kNoId = 0xFFFFFFFF;
enum : std::uint16_t { kUserObj = 1, kUser = 2, kGroupObj = 4, kMask = 16, kOther = 32 };

// A file capability (vfs_cap_data, revision 2): CAP_NET_RAW, effective.
std::string Capability() {
    std::uint32_t data[5] = {0x02000001, 1u << 13, 0, 0, 0};
    return std::string(reinterpret_cast<const char*>(data), sizeof data);
}

void SetAttribute(const std::string& path, const char* name, const std::string& value) {
    ASSERT_EQ(lsetxattr(path.c_str(), name, value.data(), value.size(), 0), 0)
        << name << " on " << path << ": " << std::strerror(errno);
}

// A tree that holds every kind of entry and metadata a copy keeps on Linux: files (empty,
// small, large, sparse), folders, links, hard links, a fifo, devices, a socket, a folder
// named .quorlin, owners, permissions with set-ID and sticky bits, extended attributes,
// ACLs, a file capability, nanosecond times, and a path longer than PATH_MAX.
void MakeEveryKindOfEntry(const std::string& root) {
    ASSERT_EQ(Shell("mkdir -p " + root + "/sub/deeper " + root + "/.quorlin && cd " + root +
                    " && printf hello > small && : > empty && printf linked > linked &&"
                    " ln linked sub/linked2 && ln linked sub/deeper/linked3 &&"
                    " printf pair > pair && ln pair pair2 && printf mine > .quorlin/mine &&"
                    " ln -s small relative && ln -s /etc/passwd absolute &&"
                    " ln -s no/such/target dangling && ln -s ../large sub/up && mkfifo fifo &&"
                    " mknod null c 1 3 && mknod loop b 7 200 && mkdir sticky"),
              "");
    ASSERT_EQ(mknod((root + "/socket").c_str(), S_IFSOCK | 0755, 0), 0);
    std::string large;
    for (int i = 0; i < (3 << 20); ++i)
        large += static_cast<char>(i * 7 % 251);
    Write(root + "/large", large);
    int sparse = open((root + "/sparse").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(sparse, 0);
    ASSERT_EQ(ftruncate(sparse, 64 << 20), 0);
    ASSERT_EQ(pwrite(sparse, std::string(4096, 's').data(), 4096, 0), 4096);
    ASSERT_EQ(pwrite(sparse, std::string(8192, 't').data(), 8192, 10 << 20), 8192);
    ASSERT_EQ(pwrite(sparse, "u", 1, (40 << 20) + 5), 1);
    close(sparse);

    ASSERT_EQ(lchown((root + "/small").c_str(), 1234, 5678), 0);
    ASSERT_EQ(lchown((root + "/sub").c_str(), 4321, 8765), 0);
    ASSERT_EQ(lchown((root + "/absolute").c_str(), 1234, 1234), 0);
    ASSERT_EQ(lchown((root + "/fifo").c_str(), NobodyUid(), NobodyGid()), 0);
    ASSERT_EQ(chmod((root + "/small").c_str(), 0600), 0);
    ASSERT_EQ(chmod((root + "/large").c_str(), 04755), 0);
    ASSERT_EQ(chmod((root + "/empty").c_str(), 02711), 0);
    ASSERT_EQ(chmod((root + "/sticky").c_str(), 01777), 0);
    SetAttribute(root + "/small", "user.note", "a note");
    SetAttribute(root + "/sub", "user.folder", "a folder's note");
    SetAttribute(root + "/large", "trusted.secret", std::string("trusted\0value", 13));
    SetAttribute(root + "/relative", "trusted.link", "on a link");
    SetAttribute(root + "/large", "security.capability", Capability());
    SetAttribute(root + "/small", "system.posix_acl_access",
                 Acl({{kUserObj, 6, kNoId},
                      {kUser, 4, 1234},
                      {kGroupObj, 4, kNoId},
                      {kMask, 4, kNoId},
                      {kOther, 0, kNoId}}));
    SetAttribute(root + "/sub", "system.posix_acl_default",
                 Acl({{kUserObj, 7, kNoId},
                      {kUser, 5, 1234},
                      {kGroupObj, 5, kNoId},
                      {kMask, 5, kNoId},
                      {kOther, 5, kNoId}}));

    // A chain of folders far longer than PATH_MAX, made (and given times) through
    // descriptors.
    std::vector<int> chain{open(root.c_str(), O_RDONLY | O_DIRECTORY)};
    for (int i = 0; i < 22; ++i) {
        std::string name = std::to_string(i) + std::string(200, 'd');
        ASSERT_EQ(mkdirat(chain.back(), name.c_str(), 0755), 0);
        chain.push_back(openat(chain.back(), name.c_str(), O_RDONLY | O_DIRECTORY));
    }
    int bottom = openat(chain.back(), "bottom", O_WRONLY | O_CREAT, 0640);
    ASSERT_EQ(write(bottom, "deep", 4), 4);
    timespec times[2] = {{1000000000, 111}, {1000000001, 222}};
    ASSERT_EQ(futimens(bottom, times), 0);
    close(bottom);
    for (size_t i = chain.size(); i-- > 1;) {
        ASSERT_EQ(futimens(chain[i], times), 0);
        close(chain[i]);
    }
    close(chain[0]);

    // Times last, deepest first: adding entries changes a folder's.
    long second = 1300000000;
    for (const char* name :
         {"small",    "empty",    "linked", "pair",       ".quorlin/mine", ".quorlin", "relative",
          "absolute", "dangling", "sub/up", "sub/deeper", "sub",           "fifo",     "null",
          "loop",     "socket",   "sticky", "large",      "sparse",        ""}) {
        timespec set[2] = {{second, 123456789}, {second + 7, 987654321}};
        second += 100;
        ASSERT_EQ(utimensat(AT_FDCWD, (root + "/" + name).c_str(), set, AT_SYMLINK_NOFOLLOW), 0)
            << name;
    }
}

TEST_F(ToolOnBtrfs, CopyKeepsEveryKindOfEntryAndMetadata) {
    std::string source = Volume() + "/everything";
    MakeEveryKindOfEntry(source);
    ASSERT_FALSE(HasFailure());
    // The same file system (extents cloned), a tmpfs and ext4 (content copied), each
    // twice: the second copy replaces the first.
    ASSERT_EQ(mkdir((Volume() + "/copies").c_str(), 0700), 0);
    for (const std::string& destination :
         {Volume() + "/copies", scratch_->Tmpfs(), scratch_->Outside()}) {
        for (int round = 1; round <= 2; ++round) {
            SCOPED_TRACE(destination + ", round " + std::to_string(round));
            Outcome outcome = RunTool({"copy", source, destination});
            EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
            EXPECT_EQ(outcome.err, "");
            EXPECT_EQ(CompareTrees(source, destination + "/everything"),
                      std::vector<std::string>());
        }
    }
}

// A user may change their files and their folder of the copy between two copies. Root
// must neither write through what they put there nor give it root's permissions.
TEST_F(ToolOnBtrfs, CopyNeverWritesThroughWhatAUserPutInTheDestination) {
    const std::string home = Volume() + "/home";
    const std::string user = home + "/user";
    const std::string backup = scratch_->Outside() + "/backup";
    const std::string copy = backup + "/home/user";
    const std::string secret = scratch_->Outside() + "/root-secret";
    const std::string theirs = scratch_->Outside() + "/nobody";
    Write(secret, "root secret");
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    ASSERT_EQ(Shell("mkdir -p " + user + "/dir " + backup + " " + theirs + "/folder && cd " + user +
                    " && ln -s " + secret +
                    " evil && printf data > data && printf inside > "
                    "dir/inside && printf note > note && printf theirs > " +
                    theirs + "/file && chown -R nobody:nogroup " + user + " " + theirs),
              "");
    ASSERT_EQ(RunTool({"copy", home, backup}).exitCode, 0);

    struct Planting {
        const char* what;
        std::function<bool()> asNobody;
    };
    const std::vector<Planting> plantings = {
        {"in the source, a set-user-ID file in place of a link",
         [&] {
             if (unlink((user + "/evil").c_str()) != 0)
                 return false;
             Write(user + "/evil", "nobody's");
             return chmod((user + "/evil").c_str(), 04777) == 0;
         }},
        {"in the copy, a hard link to a file of theirs outside",
         [&] {
             return unlink((copy + "/data").c_str()) == 0 &&
                    link((theirs + "/file").c_str(), (copy + "/data").c_str()) == 0;
         }},
        {"in the copy, a link to a folder of theirs outside in place of a folder",
         [&] {
             return rename((copy + "/dir").c_str(), (copy + "/dir.old").c_str()) == 0 &&
                    symlink((theirs + "/folder").c_str(), (copy + "/dir").c_str()) == 0;
         }},
        {"in the copy, a fifo in place of a file",
         [&] {
             return unlink((copy + "/note").c_str()) == 0 &&
                    mkfifo((copy + "/note").c_str(), 0666) == 0;
         }},
    };
    for (const Planting& planting : plantings)
        ASSERT_TRUE(AsNobody(planting.asNobody)) << planting.what;

    Outcome second = RunTool({"copy", home, backup});
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(CompareTrees(user, copy, {}),
              std::vector<std::string>{"dir.old is only in the copy"});
    struct stat status;
    ASSERT_EQ(stat(secret.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_EQ(Read(secret), "root secret");
    EXPECT_EQ(Read(theirs + "/file"), "theirs");
    EXPECT_EQ(Shell("ls -A " + theirs + "/folder"), "");
    EXPECT_EQ(Shell("find " + backup + " -perm -4000 -user root"), "");
}

// Folders are made private, and files made under a private temporary name, so that no
// one can open a private file, or one in a private folder, while the copy runs. The copy
// is held at each write, and a user tries to read everything in the destination meanwhile.
TEST_F(ToolOnBtrfs, CopyShowsNoOneAPrivateFileWhileItRuns) {
    const std::string source = Volume() + "/private";
    const std::string destination = scratch_->Outside() + "/private-copy";
    ASSERT_EQ(Shell("mkdir -p " + source + "/closed " + destination + " && cd " + source +
                    " && head -c 1M /dev/zero > db && head -c 1M /dev/zero > closed/open &&"
                    " head -c 1M /dev/zero > public && chmod 600 db && chmod 700 closed &&"
                    " chmod 644 closed/open public"),
              "");
    int reports[2];
    ASSERT_EQ(pipe(reports), 0);
    pid_t watcher = fork();
    if (watcher == 0) {
        close(reports[0]);
        if (!BecomeNobody())
            _exit(1);
        {
            // Reports "seen" once the copy's folder is there, and each private file read.
            bool seen = false;
            for (;;) {
                for (const char* name : {"db", "closed/open"}) {
                    std::string path = destination + "/private/" + name;
                    if (!seen && Exists(destination + "/private"))
                        seen = write(reports[1], "seen\n", 5) == 5;
                    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW);
                    char byte;
                    if (fd >= 0 && read(fd, &byte, 1) == 1)
                        (void)!write(reports[1], (std::string(name) + "\n").c_str(),
                                     std::strlen(name) + 1);
                    if (fd >= 0)
                        close(fd);
                }
                usleep(2000);
            }
        }
    }
    close(reports[1]);
    // strace holds the copy at each write, change of permissions and rename.
    const std::string calls =
        "write,pwrite64,copy_file_range,ioctl,fchmod,chmod,rename,renameat,renameat2";
    const std::string trace = "trace=" + calls;
    const std::string delay = "inject=" + calls + ":delay_enter=100000";
    Launch held;
    held.runner = {"strace", "-f", "-qq", "-o", "/dev/null", "-e", trace, "-e", delay};
    held.environment = {"ASAN_OPTIONS=detect_leaks=0"};  // LeakSanitizer cannot run traced
    Outcome outcome = RunTool({"copy", source, destination}, held);
    usleep(100000);
    kill(watcher, SIGKILL);
    waitpid(watcher, nullptr, 0);
    std::string seen;
    char buffer[256];
    ssize_t n;
    while ((n = read(reports[0], buffer, sizeof buffer)) > 0)
        seen.append(buffer, static_cast<size_t>(n));
    close(reports[0]);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(seen, "seen\n") << "what a user read during the copy";
    EXPECT_EQ(CompareTrees(source, destination + "/private"), std::vector<std::string>());
}

// A destination that fills keeps its earlier copy of each file, and no temporary file.
TEST_F(ToolOnBtrfs, CopyToAFullDestinationKeepsTheEarlierCopy) {
    const std::string source = Volume() + "/growing";
    const std::string copy = scratch_->Small() + "/growing";
    ASSERT_EQ(Shell("mkdir " + source + " && head -c 2M /dev/zero | tr '\\0' a > " + source +
                    "/a && head -c 2M /dev/zero | tr '\\0' b > " + source + "/b"),
              "");
    ASSERT_EQ(RunTool({"copy", source, scratch_->Small()}).exitCode, 0);
    ASSERT_EQ(Shell("head -c 6M /dev/zero | tr '\\0' A > " + source +
                    "/a && head -c 1M "
                    "/dev/zero | tr '\\0' B > " +
                    source + "/b"),
              "");
    Outcome full = RunTool({"copy", source, scratch_->Small()});
    EXPECT_EQ(full.exitCode, 3);
    EXPECT_NE(full.err.find("No space left on device"), std::string::npos) << full.err;
    EXPECT_NE(full.err.find(copy + "/a"), std::string::npos) << full.err;
    EXPECT_EQ(Read(copy + "/a"), std::string(2 << 20, 'a'));
    std::string b = Read(copy + "/b");
    EXPECT_TRUE(b == std::string(2 << 20, 'b') || b == std::string(1 << 20, 'B'));
    EXPECT_EQ(Shell("ls -A " + copy), "a\nb\n");
}

// What a copy cannot keep is named by its path in the source, and the copy says so in its
// exit code: here an ACL, on a file system without extended attributes.
TEST_F(ToolOnBtrfs, CopyNamesWhatItCouldNotKeepAndExitsWithFour) {
    const std::string source = Volume() + "/acl";
    ASSERT_EQ(Shell("mkdir " + source + " && printf x > " + source + "/file"), "");
    SetAttribute(source + "/file", "system.posix_acl_access",
                 Acl({{kUserObj, 6, kNoId},
                      {kUser, 4, 1234},
                      {kGroupObj, 4, kNoId},
                      {kMask, 4, kNoId},
                      {kOther, 0, kNoId}}));
    Outcome outcome = RunTool({"copy", source, scratch_->Bare()});
    EXPECT_EQ(outcome.exitCode, 4);
    EXPECT_EQ(outcome.err,
              "quorlin: could not keep the extended attribute system.posix_acl_access of " +
                  source +
                  "/file (Operation not supported).\n"
                  "quorlin: the copy is complete, but 1 thing could not be kept as in the "
                  "source (named above).\n");
    EXPECT_EQ(Read(scratch_->Bare() + "/acl/file"), "x");
}

// The snapshot service's store is left out of a copy of the mount that holds it, and a
// user's folder of that name is copied wherever else it is. The scratch volume's store may
// be there already from earlier copies, so a mount of a subvolume of its own has none until
// its copy's set makes one.
TEST_F(ToolOnBtrfs, CopyLeavesOutOnlyTheStoreOfTheMountItCopies) {
    const std::string fresh = scratch_->Outside() + "/fresh-mount";
    ASSERT_TRUE(quorlin::testing::MakeSubvolume(Volume() + "/fresh"));
    ASSERT_EQ(Shell("mkdir -p " + Volume() + "/deep/.quorlin " + scratch_->Nested() +
                    "/.quorlin && printf mine > " + Volume() +
                    "/deep/.quorlin/mine && printf "
                    "nested > " +
                    scratch_->Nested() + "/.quorlin/mine && mkdir " + fresh + " && mount --bind " +
                    Volume() + "/fresh " + fresh),
              "");
    ASSERT_FALSE(Exists(fresh + "/.quorlin"));
    struct Case {
        std::string source;
        std::string copy;
        bool storeLeftOut;
    };
    const std::vector<Case> cases = {
        {Volume(), scratch_->Outside() + "/whole-volume", true},
        {scratch_->Nested(), scratch_->Outside() + "/nested-volume", false},
        {fresh, scratch_->Outside() + "/fresh-volume", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        Outcome outcome = RunTool({"copy", c.source, c.copy});
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
        EXPECT_EQ(Exists(c.copy + "/.quorlin"), !c.storeLeftOut);
    }
    EXPECT_EQ(Read(scratch_->Outside() + "/whole-volume/deep/.quorlin/mine"), "mine");
    EXPECT_EQ(Read(scratch_->Outside() + "/nested-volume/.quorlin/mine"), "nested");
    EXPECT_TRUE(Exists(scratch_->Outside() + "/whole-volume/nested"));  // a subvolume: empty
    EXPECT_TRUE(Exists(fresh + "/.quorlin"));  // the store that the last copy's set made
    EXPECT_EQ(Shell("umount " + fresh), "");
    EXPECT_TRUE(quorlin::testing::RemoveTree(Volume() + "/fresh"));
}

}  // namespace
}  // namespace tooltest
