// The built quorlin on what lies below a PATH: nested btrfs subvolumes join the snapshot
// set, other file systems mounted there are named, and snapshot --in-place shows the
// snapshots at the original places to its command alone.
#include "ToolOnBtrfs.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

namespace tooltest {
namespace {

const char kInPlaceChild[] = "--quorlin-in-place-child";

// A folder "tree" in the volume with a file, a subvolume holding a file and a subvolume
// of its own, and a tmpfs mounted in it; all gone again at the end.
class NestedTree {
public:
    explicit NestedTree(const std::string& volume, const std::string& name)
        : tree_(volume + "/" + name) {
        Shell("mkdir " + tree_ + " " + tree_ + "/tmp && printf top > " + tree_ +
              "/a && btrfs -q subvolume create " + Sub() + " && printf sub > " + Sub() +
              "/f && btrfs -q subvolume create " + Deeper() + " && printf deep > " + Deeper() +
              "/g && mount -t tmpfs quorlin-test " + tree_ + "/tmp && printf t > " + tree_ +
              "/tmp/x");
    }
    ~NestedTree() {
        Shell("umount " + tree_ + "/tmp && btrfs -q subvolume delete " + Deeper() + " " + Sub() +
              " && rm -rf " + tree_);
    }
    const std::string& Path() const { return tree_; }
    std::string Sub() const { return tree_ + "/sub"; }
    std::string Deeper() const { return tree_ + "/sub/deeper"; }
    // Changes the live files of all three volumes.
    void Change() const {
        Write(tree_ + "/a", "changed");
        Write(Sub() + "/f", "changed");
        Write(Deeper() + "/g", "changed");
    }
    std::string TmpfsLine() const {
        return "quorlin: " + tree_ +
               "/tmp is left out: a tmpfs file system is mounted there, which the snapshot does "
               "not hold.\n";
    }
    std::string SubvolumeLine() const {
        return "quorlin: " + Sub() +
               " is left out: a btrfs subvolume, another volume (only the PATH's own volume is "
               "taken).\n";
    }

private:
    std::string tree_;
};

bool EmptyFolder(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
           Shell("ls -A " + path).empty();
}

std::string MountsBelow(const std::string& path) {
    std::ifstream table("/proc/self/mountinfo");
    std::string line, found;
    while (std::getline(table, line))
        if (line.find(" " + path) != std::string::npos)
            found += line + "\n";
    return found;
}

TEST_F(ToolOnBtrfs, NestedSubvolumesAreFrozenWithThePathAndMountsAreNamed) {
    NestedTree tree(Volume(), "held-tree");
    struct Case {
        std::vector<std::string> options;
        std::vector<std::string> places;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{}, {tree.Path(), tree.Sub(), tree.Deeper()}, tree.TmpfsLine()},
        {{"--one-file-system"}, {tree.Path()}, tree.SubvolumeLine() + tree.TmpfsLine()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.empty() ? "nested volumes join" : c.options[0]);
        Write(tree.Path() + "/a", "top");
        Write(tree.Sub() + "/f", "sub");
        Write(tree.Deeper() + "/g", "deep");
        std::vector<std::string> arguments = {"snapshot", tree.Path()};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        ToolProcess tool(arguments);
        ASSERT_TRUE(tool.WaitForLines(static_cast<int>(c.places.size()), 20)) << tool.Out();
        tree.Change();
        EXPECT_EQ(Places(tool.Out()), c.places);
        std::vector<std::string> snapshots = SnapshotPaths(tool.Out());
        ASSERT_EQ(snapshots.size(), c.places.size());
        EXPECT_EQ(Read(snapshots[0] + "/a"), "top");
        EXPECT_TRUE(EmptyFolder(snapshots[0] + "/sub"));  // a subvolume's place
        EXPECT_TRUE(EmptyFolder(snapshots[0] + "/tmp"));  // a mount point
        if (snapshots.size() == 3) {
            EXPECT_EQ(Read(snapshots[1] + "/f"), "sub");
            EXPECT_TRUE(EmptyFolder(snapshots[1] + "/deeper"));
            EXPECT_EQ(Read(snapshots[2] + "/g"), "deep");
        }
        tool.WriteInput("\n");
        Outcome outcome = tool.Wait(20);
        EXPECT_EQ(outcome.exitCode, 0);
        EXPECT_EQ(outcome.err, c.err);
    }
}

TEST_F(ToolOnBtrfs, CopyPutsEachNestedSubvolumeInItsPlace) {
    NestedTree tree(Volume(), "copied-tree");
    struct Case {
        std::vector<std::string> options;
        std::string copy;
        std::string err;
        std::string files;  // what the copy holds, as find lists it
    };
    const std::string outside = scratch_->Outside();
    const std::vector<Case> cases = {
        {{},
         outside + "/nested-all",
         tree.TmpfsLine(),
         "a\nsub\nsub/deeper\nsub/deeper/g\nsub/f\ntmp\n"},
        {{"--one-file-system"},
         outside + "/nested-one",
         tree.SubvolumeLine() + tree.TmpfsLine(),
         "a\nsub\ntmp\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.copy);
        std::vector<std::string> arguments = {"copy", tree.Path(), c.copy};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        Outcome outcome = RunTool(arguments);
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
        EXPECT_EQ(outcome.err, c.err);
        EXPECT_EQ(Shell("cd " + c.copy + " && find . -mindepth 1 -printf '%P\\n' | sort"), c.files);
    }
    EXPECT_EQ(Read(outside + "/nested-all/sub/deeper/g"), "deep");
    EXPECT_EQ(Read(outside + "/nested-all/sub/f"), "sub");
}

// The command reads the original paths and sees the frozen volumes, nested ones in their
// places; everyone else sees the live ones meanwhile, and nothing stays mounted.
TEST_F(ToolOnBtrfs, InPlaceCommandAloneSeesTheSnapshotsAtTheOriginalPaths) {
    NestedTree tree(Volume(), "in-place-tree");
    const std::string before = MountsBelow(tree.Path());
    ToolProcess tool({"snapshot", "--in-place", tree.Path(), "--", "sh", "-c",
                      "read go; cd / && cat \"$1/a\" \"$1/sub/f\" \"$1/sub/deeper/g\"; echo; "
                      "ls -A \"$1/tmp\"; { echo > \"$1/a\"; } 2>/dev/null || echo read-only; "
                      "grep -c \" $1\" /proc/self/mountinfo",
                      "sh", "{}"});
    // The tmpfs line, then the three snapshot lines, on standard error.
    ASSERT_TRUE(tool.WaitForLines(4, 20, true)) << tool.Err();
    EXPECT_EQ(MountsBelow(tree.Path()), before);
    tree.Change();
    EXPECT_EQ(Read(tree.Sub() + "/f"), "changed");
    tool.WriteInput("go\n");
    Outcome outcome = tool.Wait(20);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.err.substr(0, tree.TmpfsLine().size()), tree.TmpfsLine());
    EXPECT_EQ(Places(outcome.err),
              (std::vector<std::string>{tree.Path(), tree.Sub(), tree.Deeper()}));
    // Three binds over the three volumes, beside the tmpfs that they hide.
    EXPECT_EQ(outcome.out, "topsubdeep\nread-only\n4\n");
    EXPECT_EQ(MountsBelow(tree.Path()), before);
    EXPECT_EQ(Read(tree.Path() + "/a"), "changed");
}

// quorlin started as the command's process binds nothing but a read-only snapshot of the
// very entry it covers, reached without following a link.
TEST_F(ToolOnBtrfs, InPlaceBindsOnlyAFrozenViewOfTheEntryItself) {
    const std::string victim = Volume() + "/victim";
    const std::string frozen = Volume() + "/frozen-top";
    const std::string other = Volume() + "/other";
    const std::string otherFrozen = Volume() + "/other-frozen";
    const std::string otherWritable = Volume() + "/other-writable";
    Shell("mkdir -p " + victim + " && printf real > " + victim +
          "/secret && btrfs -q subvolume create " + other + " && printf forged > " + other +
          "/secret && btrfs -q subvolume snapshot -r " + other + " " + otherFrozen +
          " && btrfs -q subvolume snapshot " + other + " " + otherWritable +
          " && btrfs -q subvolume snapshot -r " + Volume() + " " + frozen + " && ln -s " + frozen +
          " " + Volume() + "/frozen-link && ln -s " + victim + " " + Volume() + "/victim-link");
    Write(victim + "/secret", "changed");
    struct Case {
        const char* what;
        std::string target;
        std::string snapshot;
        int exitCode;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"the snapshot of the entry", victim, frozen + "/victim", 0, "real"},
        {"a snapshot of another subvolume", victim, otherFrozen, 127, ""},
        {"a subvolume that is no snapshot", victim, other, 127, ""},
        {"a snapshot of another volume over a volume", other, frozen, 127, ""},
        {"a writable snapshot of the volume", other, otherWritable, 127, ""},
        {"another entry of the right snapshot", victim, frozen + "/other-frozen", 127, ""},
        {"a snapshot reached through a link", victim, Volume() + "/frozen-link/victim", 127, ""},
        {"a target that is a link", Volume() + "/victim-link", frozen + "/victim", 127, ""},
    };
    for (const Case& c : cases) {
        Outcome outcome =
            RunTool({kInPlaceChild, "1", c.target, c.snapshot, "-", "cat", victim + "/secret"});
        EXPECT_EQ(outcome.exitCode, c.exitCode) << c.what << ": " << outcome.err;
        EXPECT_EQ(outcome.out, c.out) << c.what;
        if (c.exitCode != 0) {
            EXPECT_EQ(outcome.err.rfind("quorlin: could not ", 0), 0u) << c.what << outcome.err;
        }
    }
    EXPECT_EQ(Read(victim + "/secret"), "changed");
    Shell("btrfs -q subvolume delete " + frozen + " " + otherFrozen + " " + otherWritable + " " +
          other + " && rm -rf " + victim + " " + Volume() + "/frozen-link " + Volume() +
          "/victim-link");
}

}  // namespace
}  // namespace tooltest
