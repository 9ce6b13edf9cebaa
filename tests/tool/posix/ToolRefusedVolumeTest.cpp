// Volumes that the snapshot service refuses for what their mount is, as a user meets
// them: one sentence that says why and what to do, and under -vv the folder to blame.
#include "BtrfsScratch.h"
#include "ToolProcess.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sys/mount.h>
#include <sys/stat.h>

namespace tooltest {
namespace {

TEST(ToolOnRefusedVolume, EachRefusalGivesItsOwnSentence) {
    const std::string why = BtrfsScratch::WhyNot();
    if (!why.empty())
        GTEST_SKIP() << why;
    BtrfsScratch scratch;
    const std::string volume = scratch.Volume();
    std::ofstream(volume + "/file") << "x";
    const std::string readOnly = scratch.Outside() + "/read-only";
    ASSERT_EQ(mkdir(readOnly.c_str(), 0755), 0);
    const struct {
        const char* name;
        std::function<void()> prepare, undo;
        std::string file;
        std::string sentence;
        std::string blamed;  // the folder that -vv names
    } cases[] = {
        {"a mount root that all may write", [&] { chmod(volume.c_str(), 0777); },
         [&] { chmod(volume.c_str(), 0755); }, volume + "/file",
         "users other than root could redirect the snapshot paths on that volume's mount; make "
         "the mount point and every folder above it belong to root and be writable by root "
         "alone, or, where everyone may write the mount point (as in /tmp), make the store "
         "first with mkdir -m 700 MOUNT-POINT/.quorlin; a trace of the snapshot service's steps "
         "names the folder.",
         volume},
        {"a read-only mount",
         [&] {
             mount(volume.c_str(), readOnly.c_str(), nullptr, MS_BIND, nullptr);
             mount(nullptr, readOnly.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr);
         },
         [&] { umount2(readOnly.c_str(), MNT_DETACH); }, readOnly + "/file",
         "the volume is read-only; remount it read-write (mount -o remount,rw MOUNT-POINT) or "
         "choose a path on a writable mount.",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare();
        Outcome quiet = RunTool({"snapshot", c.file, "--", "true"});
        EXPECT_EQ(quiet.exitCode, 1);
        EXPECT_EQ(quiet.err,
                  "quorlin: could not take a snapshot of " + c.file + ": " + c.sentence + "\n");
        if (!c.blamed.empty()) {
            Outcome verbose = RunTool({"-vv", "snapshot", c.file, "--", "true"});
            EXPECT_NE(verbose.err.find(c.blamed + ": Permission denied"), std::string::npos)
                << verbose.err;
        }
        c.undo();
    }
}

}  // namespace
}  // namespace tooltest
