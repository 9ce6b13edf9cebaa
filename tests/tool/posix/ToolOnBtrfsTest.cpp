// The built quorlin, driven as a user drives it, on real btrfs volumes.
#include "ToolOnBtrfs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <sys/stat.h>
#include <thread>

namespace tooltest {
namespace {

TEST_F(ToolOnBtrfs, CommandReadsTheFileAsItWasWhileTheLiveFileChanges) {
    std::string file = Volume() + "/frozen.txt";
    Write(file, "before\n");
    Outcome outcome = RunTool({"snapshot", file, "--", "sh", "-c",
                               "echo after >> \"$2\"; cat \"$1\"; cat \"$QUORLIN_SNAPSHOT_1\"",
                               "sh", "{}", file});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    // Standard output is the command's; the snapshot line goes to standard error.
    std::vector<std::string> snapshots = SnapshotPaths(outcome.err);
    ASSERT_EQ(snapshots.size(), 1u) << outcome.err;
    EXPECT_EQ(outcome.out, "before\nbefore\n");
    EXPECT_EQ(Read(file), "before\nafter\n");
    EXPECT_FALSE(Exists(snapshots[0]));
    EXPECT_EQ(outcome.err, file + "\t" + snapshots[0] + "\n");
}

TEST_F(ToolOnBtrfs, PathsOnTwoVolumesShareOneSnapshotSet) {
    std::string first = Volume() + "/first.txt";
    std::string second = scratch_->Nested() + "/second.txt";
    Write(first, "one");
    Write(second, "two");
    Outcome outcome =
        RunTool({"snapshot", first, second, first, "--", "sh", "-c",
                 "cat \"$1\" \"$2\" \"$QUORLIN_SNAPSHOT_2\" \"$3\"", "sh", "{1}", "{2}", "{3}"});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    std::vector<std::string> snapshots = SnapshotPaths(outcome.err);
    ASSERT_EQ(snapshots.size(), 3u) << outcome.err;
    EXPECT_EQ(outcome.out, "onetwotwoone");
    EXPECT_EQ(snapshots[0], snapshots[2]);
    // Each volume has a snapshot of its own.
    std::string firstRoot = snapshots[0].substr(0, snapshots[0].rfind('/'));
    std::string secondRoot = snapshots[1].substr(0, snapshots[1].rfind('/'));
    EXPECT_NE(firstRoot, secondRoot);
}

TEST_F(ToolOnBtrfs, CommandStatusIsTheExitCodeAndTheSnapshotGoesEitherWay) {
    std::string file = Volume() + "/status.txt";
    Write(file, "x");
    Outcome failed = RunTool({"snapshot", file, "--", "sh", "-c", "exit 7"});
    EXPECT_EQ(failed.exitCode, 7);
    ASSERT_EQ(SnapshotPaths(failed.err).size(), 1u) << failed.err;
    const std::string line = file + "\t" + SnapshotPaths(failed.err)[0] + "\n";
    EXPECT_EQ(failed.err, line);
    Outcome missing = RunTool({"snapshot", file, "--", "quorlin-no-such-program"});
    EXPECT_EQ(missing.exitCode, 127);
    ASSERT_EQ(SnapshotPaths(missing.err).size(), 1u) << missing.err;
    EXPECT_EQ(missing.err,
              file + "\t" + SnapshotPaths(missing.err)[0] +
                  "\nquorlin: could not run \"quorlin-no-such-program\" (No such file or "
                  "directory); check the command's name and PATH.\n");
}

TEST_F(ToolOnBtrfs, CopyOfAFileBeingWrittenIsTheFileAtOneInstant) {
    std::string file = Volume() + "/growing.log";
    std::string copy = scratch_->Outside() + "/growing.log";
    Write(file, "");
    pid_t writer = fork();
    if (writer == 0) {
        std::ofstream log(file, std::ios::app);
        for (long i = 0;; ++i)
            log << "line " << i << "\n" << std::flush;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Outcome outcome = RunTool({"copy", file, scratch_->Outside()});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);

    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.out + outcome.err, "");  // no progress bar off a terminal
    std::string copied = Read(copy);
    std::string live = Read(file);
    ASSERT_FALSE(copied.empty());
    EXPECT_LT(copied.size(), live.size());
    // The snapshot holds what a power cut at its instant would leave: the file as written
    // so far, and, since the writer does not sync, possibly zero bytes after it where the
    // size that the kernel recorded ran ahead of the data (file systems with no-holes).
    const size_t written = std::min(copied.find('\0'), copied.size());
    EXPECT_EQ(live.compare(0, written, copied, 0, written), 0) << "the copy is not a prefix";
    EXPECT_EQ(copied.find_first_not_of('\0', written), std::string::npos)
        << "only zeros may follow what was written";
}

TEST_F(ToolOnBtrfs, SigtermReleasesAHeldSnapshotAndEndsARunningCommand) {
    std::string file = Volume() + "/held.txt";
    Write(file, "held");
    for (auto arguments : {std::vector<std::string>{"snapshot", file},
                           std::vector<std::string>{"snapshot", file, "--", "sleep", "30"}}) {
        ToolProcess tool(arguments);
        const bool command = arguments.size() > 2;  // its line on standard error
        ASSERT_TRUE(tool.WaitForLines(1, 10, command)) << "no snapshot line";
        std::string snapshot = SnapshotPaths(command ? tool.Err() : tool.Out()).at(0);
        EXPECT_EQ(Read(snapshot), "held");
        kill(tool.Pid(), SIGTERM);
        Outcome outcome = tool.Wait(10);
        EXPECT_EQ(outcome.exitCode, 130) << outcome.err;
        EXPECT_FALSE(Exists(snapshot));
    }
}

// Under -vv the library's steps reach standard error through a pipe that the tool
// drains; the tool still ends on a signal and when the command leaves a process behind.
TEST_F(ToolOnBtrfs, VerboseToolEndsOnASignalAndBesideALingeringProcess) {
    std::string file = Volume() + "/verbose.txt";
    Write(file, "verbose");
    ToolProcess held({"-vv", "snapshot", file});
    ASSERT_TRUE(held.WaitForLines(1, 10)) << "no snapshot line";
    std::string snapshot = SnapshotPaths(held.Out()).at(0);
    kill(held.Pid(), SIGTERM);
    Outcome stopped = held.Wait(10);
    EXPECT_EQ(stopped.exitCode, 130) << stopped.err;
    EXPECT_NE(stopped.err.find("Calling AddToSnapshotSet  [+"), std::string::npos) << stopped.err;
    EXPECT_FALSE(Exists(snapshot));

    // A background process of the command must not hold the trace pipe open.
    ToolProcess tool({"-vv", "snapshot", file, "--", "sh", "-c", "sleep 20 >/dev/null 2>&1 &"});
    tool.CloseInput();
    Outcome lingering = tool.Wait(10);
    EXPECT_EQ(lingering.exitCode, 0) << lingering.err;
    EXPECT_NE(lingering.err.find("Calling AddToSnapshotSet  [+"), std::string::npos)
        << lingering.err;
}

TEST_F(ToolOnBtrfs, EnterReleasesAHeldSnapshot) {
    std::string file = Volume() + "/enter.txt";
    Write(file, "enter");
    ToolProcess tool({"snapshot", file});
    ASSERT_TRUE(tool.WaitForLines(1, 10));
    std::string snapshot = SnapshotPaths(tool.Out()).at(0);
    EXPECT_TRUE(Exists(snapshot));
    tool.WriteInput("\n");
    Outcome outcome = tool.Wait(10);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_FALSE(Exists(snapshot));
}

TEST_F(ToolOnBtrfs, PathOffBtrfsGivesOnePlainSentenceAndTheReportUnderVerbose) {
    std::string file = scratch_->Tmpfs() + "/plain.txt";
    Write(file, "plain");
    const std::string sentence =
        "quorlin: could not take a snapshot of " + file +
        ": the volume does not support snapshots; on Linux the path must lie on a btrfs "
        "subvolume (the top of a btrfs file system counts), so choose a path on btrfs or make "
        "its folder a subvolume.\n";
    Outcome quiet = RunTool({"snapshot", file, "--", "true"});
    EXPECT_EQ(quiet.exitCode, 1);
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(quiet.err, sentence);
    Outcome verbose = RunTool({"-v", "copy", file, scratch_->Outside()});
    EXPECT_EQ(verbose.exitCode, 1);
    const std::string report = "There was a COM failure 0x8004230c - .\\QuorlinClass (505)\n";
    EXPECT_EQ(verbose.err, report + sentence);
    // Every step as well under -vv, the report still last before the sentence, and the
    // lines end as lines do here.
    Outcome steps = RunTool({"-vv", "snapshot", file, "--", "true"});
    EXPECT_EQ(steps.exitCode, 1);
    EXPECT_EQ(steps.out, "");
    EXPECT_NE(steps.err.find("\nCalling AddToSnapshotSet"), std::string::npos) << steps.err;
    // The report line, with its time, is still the last before the sentence.
    const std::string::size_type reported = steps.err.rfind(report.substr(0, report.size() - 1));
    ASSERT_NE(reported, std::string::npos) << steps.err;
    const std::string rest = steps.err.substr(reported + report.size() - 1);
    ASSERT_GT(rest.size(), sentence.size());
    EXPECT_EQ(rest.substr(rest.size() - sentence.size()), sentence);
    EXPECT_TRUE(std::regex_match(rest.substr(0, rest.size() - sentence.size()),
                                 std::regex(R"(  \[\+[0-9]+\.[0-9] ms\]\n)")))
        << steps.err;
    EXPECT_EQ(steps.err.find('\r'), std::string::npos);
    EXPECT_EQ(steps.err.find('\0'), std::string::npos);
}

// Usage errors need no volume and no root.
TEST(ToolUsage, MistakesExitWithTwoAndOneSentence) {
    const std::vector<std::vector<std::string>> mistakes = {{},
                                                            {"snapshot"},
                                                            {"copy", "/"},
                                                            {"snapshot", "--frob", "/"},
                                                            {"snapshot", "/", "--", "cat", "{2}"},
                                                            {"snapshot", "/quorlin/no/such/path"}};
    for (const auto& mistake : mistakes) {
        Outcome outcome = RunTool(mistake);
        EXPECT_EQ(outcome.exitCode, 2) << outcome.err;
        EXPECT_EQ(outcome.err.rfind("quorlin: ", 0), 0u) << outcome.err;
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    }
    Outcome help = RunTool({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Exit codes:"), std::string::npos);
}

}  // namespace
}  // namespace tooltest
