// What the command after -- gets from the built quorlin: names as their very bytes,
// whether or not they are UTF-8.
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

// A subvolume named with a byte that is not UTF-8 joins the set and the copy like any other,
// and every name comes back as the very bytes it is.
TEST_F(ToolOnBtrfs, TreeWithNamesThatAreNotUtf8IsBackedUpWithTheirVeryBytes) {
    Tree tree(Volume(), "caf\xC3", "n\xFF", "bytes");  // cut short, and a byte of no character
    ToolProcess held({"snapshot", tree.Path()});
    ASSERT_TRUE(held.WaitForLines(2, 20)) << held.Out();
    const std::vector<std::string> snapshots = SnapshotPaths(held.Out());
    ASSERT_EQ(snapshots.size(), 2u);
    EXPECT_EQ(held.Out(),
              tree.Path() + "\t" + snapshots[0] + "\n" + tree.Sub() + "\t" + snapshots[1] + "\n");
    EXPECT_EQ(Read(snapshots[1] + "/n\xFF"), "bytes");
    held.WriteInput("\n");
    Outcome outcome = held.Wait(20);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;

    const std::string copy = scratch_->Outside() + "/bytes-copy";
    Outcome copied = RunTool({"copy", tree.Path(), copy});
    EXPECT_EQ(copied.exitCode, 0) << copied.err;
    EXPECT_EQ(copied.err, "");
    EXPECT_EQ(Read(copy + "/caf\xC3/n\xFF"), "bytes");
    Shell("rm -rf " + copy);
}

}  // namespace
}  // namespace tooltest
