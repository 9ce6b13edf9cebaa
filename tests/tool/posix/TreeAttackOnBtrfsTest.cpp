// The built quorlin over trees that an unprivileged user shapes while it works: nesting
// deep, read-only subvolumes, subvolumes renamed and swapped in a loop, names changed under
// --in-place, processes left running in its view, and the stores of the snapshot service
// reached through a file system mounted at its top.
#include "ToolOnBtrfs.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/btrfs.h>
#include <sys/ioctl.h>
#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tooltest {
namespace {

const std::string kAsNobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups ";

// A folder `name` in `volume`, made by root and given to nobody; gone at the end, with every
// subvolume below it.
class UserTree {
public:
    UserTree(const std::string& volume, const std::string& name) : path_(volume + "/" + name) {
        Shell("mkdir -m 755 " + path_ + " && chown nobody:nogroup " + path_);
    }
    ~UserTree() {
        // Deepest first: a subvolume goes only once it holds none.
        Shell("find " + path_ +
              " -depth -inum 256 -type d -exec btrfs -q subvolume delete {} + >/dev/null; rm -rf " +
              path_);
    }
    const std::string& Path() const { return path_; }
    // Runs `script` as nobody in the tree.
    void AsUser(const std::string& script) const {
        Shell("cd " + path_ + " && " + kAsNobody + "sh -c '" + script + "'");
    }

private:
    std::string path_;
};

// Makes `depth` subvolumes "n" nested one in another in `folder`, as a user does in under a
// second.
bool Nest(const std::string& folder, int depth) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < depth && fd >= 0; ++i) {
        btrfs_ioctl_vol_args args = {};
        std::strcpy(args.name, "n");
        int next = ioctl(fd, BTRFS_IOC_SUBVOL_CREATE, &args) == 0
                       ? openat(fd, "n", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                       : -1;
        close(fd);
        fd = next;
    }
    return fd >= 0 && close(fd) == 0;
}

// Removes what Nest made, fast: the kernel takes a minute for 1,200 deletions deep down, so
// each subvolume is first renamed up into `folder`, then deleted there.
void Unnest(const std::string& folder, int depth) {
    int top = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(top, 0);
    std::string name = "n";
    for (int i = 1; i < depth; ++i) {
        int level = openat(top, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        std::string flat = "flat-" + std::to_string(i);
        EXPECT_EQ(renameat(level, "n", top, flat.c_str()), 0) << i;
        close(level);
        name = flat;
    }
    for (int i = 0; i < depth; ++i) {
        btrfs_ioctl_vol_args args = {};
        std::strcpy(args.name, i == 0 ? "n" : ("flat-" + std::to_string(i)).c_str());
        EXPECT_EQ(ioctl(top, BTRFS_IOC_SNAP_DESTROY, &args), 0) << i;
    }
    close(top);
}

void WaitGone(pid_t pid) {
    while (kill(pid, 0) == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// Whether `pid` still runs: an ended process that its new parent has not reaped yet (a
// zombie) holds nothing, neither files nor a mount namespace, but still answers kill(pid, 0).
bool Runs(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(status, line) || line.rfind(')') == std::string::npos)
        return false;
    const char state = line[line.rfind(')') + 2];
    return state != 'Z' && state != 'X';
}

// What the user does (as nobody, in the tree), which quorlin run, and what it must say: a
// backup that completes, and the left-out lines on standard error.
TEST_F(ToolOnBtrfs, TreesThatAUserShapesAreBackedUpWithoutWhatIsNotTheirs) {
    struct Case {
        const char* what;
        std::string prepare;
        std::vector<std::string> options;
        std::vector<std::string> places;  // below the tree, as the snapshot lines name them
        std::string leftOut;              // the line on standard error, after the tree
    };
    const std::vector<Case> cases = {
        {"1,200 subvolumes nested one in another",
         "nest 1200",
         {"--one-file-system"},
         {},
         "/n is left out: a btrfs subvolume, another volume (only the PATH's own "
         "volume is taken).\n"},
        {"read-only snapshots of the user's own subvolume",
         "btrfs -q subvolume create live && mkdir .snapshots && "
         "btrfs -q subvolume snapshot -r live .snapshots/1",
         {},
         {"/live"},
         "/.snapshots/1 is left out: a read-only btrfs subvolume (a snapshot, already "
         "frozen), which the view and the copy show as an empty folder.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UserTree tree(Volume(), "shaped");
        if (c.prepare == "nest 1200")
            ASSERT_TRUE(AsNobody([&] { return Nest(tree.Path(), 1200); }));
        else
            tree.AsUser(c.prepare);
        // The snapshot lines on standard output, as the command's own output is nothing.
        std::vector<std::string> arguments = {"snapshot", "--output-fd", "1", tree.Path()};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        arguments.insert(arguments.end(), {"--", "true"});
        Outcome outcome = RunTool(arguments);
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
        EXPECT_EQ(outcome.err, "quorlin: " + tree.Path() + c.leftOut);
        std::vector<std::string> places = {tree.Path()};
        for (const std::string& place : c.places)
            places.push_back(tree.Path() + place);
        EXPECT_EQ(Places(outcome.out), places);
        if (c.prepare == "nest 1200")
            Unnest(tree.Path(), 1200);
    }
}

// A file system mounted at its top level shows the subvolumes that are mounted elsewhere,
// with the stores at their roots: neither a set nor a copy takes one, nor what it holds.
TEST_F(ToolOnBtrfs, AStoreReachedBelowTheTopLevelIsNeverTaken) {
    UserTree tree(Volume(), "top-level");
    const std::string at = tree.Path() + "/@";
    const std::string mounted = scratch_->Outside() + "/at-mounted";
    Shell("btrfs -q subvolume create " + at + " && printf data > " + at + "/file && mkdir -p " +
          mounted);
    ASSERT_EQ(mount(at.c_str(), mounted.c_str(), nullptr, MS_BIND, nullptr), 0);
    // Another backup holds a snapshot of the subvolume through its own mount.
    ToolProcess other({"snapshot", mounted});
    ASSERT_TRUE(other.WaitForLines(1, 20)) << other.Out();
    ASSERT_TRUE(Exists(at + "/.quorlin"));
    Outcome listed = RunTool({"snapshot", "--output-fd", "1", tree.Path(), "--", "true"});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(Places(listed.out), std::vector<std::string>({tree.Path(), at}));
    const std::string copy = scratch_->Outside() + "/top-level-copy";
    Outcome copied = RunTool({"copy", tree.Path(), copy});
    EXPECT_EQ(copied.exitCode, 0) << copied.err;
    EXPECT_EQ(Shell("cd " + copy + " && find . -mindepth 1 | sort"), "./@\n./@/file\n");
    other.WriteInput("\n");
    EXPECT_EQ(other.Wait(20).exitCode, 0);
    umount2(mounted.c_str(), MNT_DETACH);
    Shell("rm -rf " + copy + " " + mounted);
}

// The user renames or swaps their subvolumes in a loop while quorlin backs the tree up:
// every backup completes, and each nested snapshot is one of the user's subvolumes.
TEST_F(ToolOnBtrfs, SubvolumesMovedInALoopNeverFailABackup) {
    struct Case {
        const char* what;
        std::string loop;  // one round of what the user repeats
        bool inPlace;
        int runs;
    };
    const std::vector<Case> cases = {
        {"renamed back and forth", "mv a b; mv b a", false, 20},
        {"swapped with another", "mv a t; mv c a; mv t c", false, 20},
        {"renamed under --in-place", "mv a b; mv b a", true, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UserTree tree(Volume(), "moving");
        tree.AsUser(
            "btrfs -q subvolume create a && echo a > a/name && btrfs -q subvolume create c && "
            "echo c > c/name");
        // Until the file "stop" appears: then its last move is complete once it has ended.
        tree.AsUser("(while [ ! -e stop ]; do " + c.loop +
                    "; done) >/dev/null 2>&1 & echo $! > loop.pid");
        struct Stop {
            std::string tree;
            ~Stop() {
                Write(tree + "/stop", "");
                const pid_t loop = static_cast<pid_t>(std::stol(Read(tree + "/loop.pid")));
                WaitGone(loop);
            }
        } stop{tree.Path()};
        for (int run = 0; run < c.runs; ++run) {
            if (c.inPlace) {
                Outcome outcome = RunTool({"snapshot", "--in-place", tree.Path(), "--", "sh", "-c",
                                           "cat {}/*/name >/dev/null 2>&1; true"});
                EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
                continue;
            }
            ToolProcess tool({"snapshot", tree.Path()});
            tool.WaitForLines(1, 20);
            std::vector<std::string> snapshots = SnapshotPaths(tool.Out());
            for (size_t i = 1; i < snapshots.size(); ++i) {
                std::string held = Read(snapshots[i] + "/name");
                EXPECT_TRUE(held == "a\n" || held == "c\n") << snapshots[i] << ": " << held;
            }
            tool.WriteInput("\n");
            Outcome outcome = tool.Wait(20);
            EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
        }
    }
}

// While COMMAND waits, the user renames PATH away and plants a link to root's private folder
// in its place: COMMAND still reads the frozen PATH, and the folder that the user may change
// shows only the way to it.
TEST_F(ToolOnBtrfs, InPlaceViewCannotBeRedirectedByAUser) {
    struct Case {
        const char* what;
        std::string above;  // chmod and chown of the folder above PATH, "$A"
    };
    const std::vector<Case> cases = {
        {"a folder of the user's above PATH", "chmod 755 \"$A\" && chown nobody:nogroup \"$A\""},
        {"a sticky folder above that all may write", "chmod 1777 \"$A\""},
    };
    const std::string above = Volume() + "/redirect-above";
    const std::string path = above + "/data";
    Shell("mkdir -m 700 " + Volume() + "/redirect-private && printf secret > " + Volume() +
          "/redirect-private/secret");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Shell("A=" + above + " && mkdir \"$A\" && " + c.above + " && cd " + above + " && " +
              kAsNobody + "sh -c 'mkdir data && echo frozen > data/f'");
        ToolProcess tool({"snapshot", "--in-place", path, "--", "sh", "-c",
                          "echo ready; read go; cat " + path + "/f " + path +
                              "/secret 2>/dev/null; ls -A " + above});
        ASSERT_TRUE(tool.WaitForLines(1, 20)) << tool.Out();
        Shell("cd " + above + " && " + kAsNobody +
              "sh -c 'mv data old && ln -s ../redirect-private data && echo changed > old/f'");
        tool.WriteInput("go\n");
        Outcome outcome = tool.Wait(20);
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
        EXPECT_EQ(outcome.out, "ready\nfrozen\ndata\n");
        Shell("rm -rf " + above);
    }
    Shell("rm -rf " + Volume() + "/redirect-private");
}

// A process that COMMAND leaves running (a daemon of its own session, working in the
// snapshot): with --in-place it is ended when COMMAND ends, so that nothing holds the view;
// without, the deleted snapshot stays readable to it, and list shows it until it lets go.
TEST_F(ToolOnBtrfs, WhatTheCommandLeavesRunningHoldsNoSnapshotUnseen) {
    const std::string path = Volume() + "/left-running";
    Shell("mkdir -p " + path);
    for (bool inPlace : {true, false}) {
        SCOPED_TRACE(inPlace ? "--in-place" : "snapshot paths");
        std::vector<std::string> arguments = {"snapshot", "--output-fd", "1", path};
        if (inPlace)
            arguments.push_back("--in-place");
        arguments.insert(arguments.end(), {"--", "sh", "-c",
                                           "cd \"$QUORLIN_SNAPSHOT_1\" && { setsid sleep 30 "
                                           "</dev/null >/dev/null 2>&1 & echo $!; }"});
        Outcome outcome = RunTool(arguments);
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
        EXPECT_EQ(outcome.err, inPlace ? "quorlin: ended 1 process that the command left running "
                                         "in its view, so that nothing holds the snapshots.\n"
                                       : "");
        std::string out = outcome.out.substr(0, outcome.out.find_last_not_of('\n') + 1);
        const pid_t holder = static_cast<pid_t>(std::stol(out.substr(out.rfind('\n') + 1)));
        const std::string line =
            "-\t" + Volume() + "\tdeleted\t" + std::to_string(holder) + " holds\t?\n";
        EXPECT_EQ(Runs(holder), !inPlace);
        EXPECT_EQ(RunTool({"list", path}).out.find(line) != std::string::npos, !inPlace);
        kill(holder, SIGKILL);
        WaitGone(holder);
        EXPECT_EQ(RunTool({"list"}).out.find(line), std::string::npos);
    }
    Shell("rm -rf " + path);
}

}  // namespace
}  // namespace tooltest
