// What the command after -- gets from the built quorlin: its standard output untouched, every
// snapshot path of the set in its environment, and names as their very bytes, whether or not they
// are UTF-8.
#include "ToolOnBtrfs.h"

#include <gtest/gtest.h>

namespace tooltest {
namespace {

// A folder in the volume with a file, and a subvolume `sub` holding a file `name`, with
// the content `content`; gone again at the end.
class Tree {
public:
    Tree(const std::string& volume, const std::string& sub, const std::string& name,
         const std::string& content)
        : tree_(volume + "/tree"), sub_(tree_ + "/" + sub) {
        Shell("mkdir " + tree_ + " && printf top > " + tree_ + "/f && btrfs -q subvolume create '" +
              sub_ + "' && printf " + content + " > '" + sub_ + "/" + name + "'");
    }
    ~Tree() { Shell("btrfs -q subvolume delete '" + sub_ + "' && rm -rf " + tree_); }
    const std::string& Path() const { return tree_; }
    const std::string& Sub() const { return sub_; }

private:
    std::string tree_;
    std::string sub_;
};

// A subvolume named with a byte that is not UTF-8 joins the set like any other (the copy
// shows it in its place, not as the empty folder of a volume left out), with the very bytes
// of every name. A path of such bytes in the set's own lines is the JSON test's.
TEST_F(ToolOnBtrfs, TreeWithNamesThatAreNotUtf8IsBackedUpWithTheirVeryBytes) {
    Tree tree(Volume(), "caf\xC3", "n\xFF", "bytes");  // cut short, and a byte of no character
    const std::string copy = scratch_->Outside() + "/bytes-copy";
    Outcome copied = RunTool({"copy", tree.Path(), copy});
    EXPECT_EQ(copied.exitCode, 0) << copied.err;
    EXPECT_EQ(copied.err, "");
    EXPECT_EQ(Read(copy + "/caf\xC3/n\xFF"), "bytes");
    Shell("rm -rf " + copy);
}

// With a command, quorlin writes nothing of its own to standard output (the JSON and the
// exact output of a command are the JSON test's): its lines go where --output-fd sends
// them, and so does the library's own line about a privilege it cannot enable.
TEST_F(ToolOnBtrfs, StandardOutputIsTheCommandsAlone) {
    Tree tree(Volume(), "sub", "g", "sub");
    const std::string answers = scratch_->Outside() + "/answers";
    const struct {
        const char* what;
        std::vector<std::string> runner, options;
        std::string errStart;  // the beginning of standard error
        size_t answerLines;    // snapshot lines in `answers`
    } cases[] = {
        {"the lines on a descriptor of their own",
         {"sh", "-c", "exec \"$@\" 3>'" + answers + "'", "sh"},
         {"--output-fd", "3"},
         "",
         2},
        {"the library's line without the backup privilege",
         {"setpriv", "--bounding-set", "-dac_read_search"},
         {},
         "AdjustTokenPrivileges for SeBackupPrivilege failed with 1300",
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Launch launch;
        launch.runner = c.runner;
        std::vector<std::string> arguments = c.options;
        arguments.insert(arguments.begin(), "snapshot");
        arguments.insert(arguments.end(),
                         {tree.Path(), "--", "sh", "-c", "cat \"$1\"/f", "sh", "{}"});
        Outcome outcome = RunTool(arguments, launch);
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
        EXPECT_EQ(outcome.err.substr(0, c.errStart.size()), c.errStart) << outcome.err;
        EXPECT_EQ(outcome.out, "top");
        EXPECT_EQ(SnapshotPaths(Read(answers)).size(), c.answerLines);
        Shell("rm -f " + answers);
    }
}

// Every snapshot path of the set, the nested volumes' after the PATHs', each beside the path
// it shows; nothing of the kind is inherited from quorlin's own environment.
TEST_F(ToolOnBtrfs, CommandGetsEverySnapshotPathInItsEnvironment) {
    Tree tree(Volume(), "sub", "g", "sub");
    const std::string script =
        "printf '%s|%s|%s|%s\\n' \"$QUORLIN_SNAPSHOT_COUNT\" \"$QUORLIN_PATH_1\" "
        "\"$QUORLIN_PATH_2\" \"${QUORLIN_SNAPSHOT_3-none}${QUORLIN_PATH_3-}\"; "
        "printf '%s\\n' \"$QUORLIN_SNAPSHOT_2\"; cat \"$QUORLIN_SNAPSHOT_2\"/*";
    for (bool inPlace : {false, true}) {
        SCOPED_TRACE(inPlace ? "--in-place" : "snapshot paths");
        std::vector<std::string> arguments = {"snapshot", tree.Path(), "--", "sh", "-c", script};
        if (inPlace)
            arguments.insert(arguments.begin() + 1, "--in-place");
        Launch launch;
        launch.environment = {"QUORLIN_SNAPSHOT_3=stale", "QUORLIN_PATH_3=stale"};
        Outcome outcome = RunTool(arguments, launch);
        ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
        const std::vector<std::string> snapshots = SnapshotPaths(outcome.err);
        ASSERT_EQ(snapshots.size(), 2u) << outcome.err;
        const std::string second = inPlace ? tree.Sub() : snapshots[1];
        EXPECT_EQ(outcome.out,
                  "2|" + tree.Path() + "|" + tree.Sub() + "|none\n" + second + "\nsub");
    }
}

}  // namespace
}  // namespace tooltest
