#include "CommandLine.h"
#include "Failure.h"

#include <gtest/gtest.h>

namespace qtool {
namespace {

Invocation Parse(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "quorlin");
    std::optional<Invocation> invocation = ParseCommandLine(arguments);
    if (!invocation)
        throw std::logic_error("help was answered");
    return *invocation;
}

int UsageExitCode(std::vector<std::string> arguments) {
    try {
        Parse(arguments);
    } catch (const Failure& failure) {
        return failure.ExitCode();
    }
    return -1;
}

TEST(CommandLine, SnapshotTakesPathsAndTheCommandAfterTheFirstSeparator) {
    Invocation invocation =
        Parse({"snapshot", "-vv", "/a", "/b", "--", "tar", "-C", "{}", "--", "-v"});
    EXPECT_EQ(invocation.command, Command::kSnapshot);
    EXPECT_EQ(invocation.paths, (std::vector<std::string>{"/a", "/b"}));
    EXPECT_EQ(invocation.program, (std::vector<std::string>{"tar", "-C", "{}", "--", "-v"}));
    EXPECT_EQ(invocation.options.verbosity, 2);
    EXPECT_FALSE(invocation.options.incremental);
    EXPECT_TRUE(invocation.options.withWriters);
}

TEST(CommandLine, OptionsMayComeBeforeOrAfterTheCommandName) {
    Invocation before =
        Parse({"--incremental", "--no-writers", "--retry", "3", "copy", "/a", "/b"});
    Invocation after = Parse({"copy", "/a", "--incremental", "/b", "--no-writers", "--retry=3"});
    for (const Invocation& invocation : {before, after}) {
        EXPECT_EQ(invocation.command, Command::kCopy);
        EXPECT_EQ(invocation.paths, (std::vector<std::string>{"/a", "/b"}));
        EXPECT_TRUE(invocation.options.incremental);
        EXPECT_FALSE(invocation.options.withWriters);
        EXPECT_EQ(invocation.options.retries, 3);
    }
}

TEST(CommandLine, InPlaceAndOneFileSystemAreTakenWhereTheyApply) {
    struct Case {
        std::vector<std::string> arguments;
        bool inPlace;
        bool oneFileSystem;
    };
    const std::vector<Case> cases = {
        {{"snapshot", "--in-place", "/a", "--", "tar"}, true, false},
        {{"--one-file-system", "snapshot", "/a", "--in-place", "--", "tar"}, true, true},
        {{"copy", "/a", "/b", "--one-file-system"}, false, true},
        {{"snapshot", "/a", "--", "tar", "--in-place", "--one-file-system"}, false, false},
    };
    for (const Case& c : cases) {
        Invocation invocation = Parse(c.arguments);
        EXPECT_EQ(invocation.inPlace, c.inPlace) << c.arguments[0] << " " << c.arguments[1];
        EXPECT_EQ(invocation.oneFileSystem, c.oneFileSystem)
            << c.arguments[0] << " " << c.arguments[1];
    }
}

TEST(CommandLine, MistakesAreUsageErrors) {
    const std::vector<std::vector<std::string>> mistakes = {
        {},
        {"frob", "/a"},
        {"snapshot"},
        {"snapshot", "--", "cat", "{}"},
        {"snapshot", "--bogus", "/a"},
        {"snapshot", "--no-writers", "/a", "/b"},
        {"copy", "/a"},
        {"copy", "/a", "/b", "/c"},
        {"copy", "/a", "/b", "--", "cat"},
        {"snapshot", "--in-place", "/a"},
        {"copy", "--in-place", "/a", "/b"},
        {"snapshot", "--timeout", "-1", "/a"},
        {"snapshot", "--timeout", "2147484", "/a"},
        {"snapshot", "--timeout", "ten", "/a"},
        {"snapshot", "/a", "--timeout"},
        {"snapshot", "--retry", "-1", "/a"},
        {"snapshot", "--retry", "many", "/a"},
        {"snapshot", "--output-fd", "-1", "/a"},
        {"snapshot", "--output-fd", "three", "/a"},
    };
    for (const auto& mistake : mistakes) {
        std::string line;
        for (const auto& argument : mistake)
            line += argument + " ";
        EXPECT_EQ(UsageExitCode(mistake), kExitUsage) << line;
    }
}

// Where the answer goes is known alike from the parse and, for a failure met before it,
// from the raw arguments.
TEST(CommandLine, OutputFdAndTheCommandAreKnownBeforeTheParse) {
    const struct {
        std::vector<std::string> arguments;
        int fd;
        bool command;
    } cases[] = {
        {{"snapshot", "/a", "--"}, -1, false},
        {{"snapshot", "/a", "--", "tar", "--output-fd", "3"}, -1, true},
        {{"--output-fd", "3", "snapshot", "/a", "--", "tar"}, 3, true},
        {{"copy", "/a", "/b", "--output-fd=7"}, 7, false},
    };
    for (const auto& c : cases) {
        std::vector<std::string> raw = c.arguments;
        raw.insert(raw.begin(), "quorlin");
        EXPECT_EQ(Parse(c.arguments).outputFd, c.fd) << c.arguments.size();
        EXPECT_EQ(OutputFdRequested(raw), c.fd) << c.arguments.size();
        EXPECT_EQ(CommandRequested(raw), c.command) << c.arguments.size();
    }
}

TEST(CommandLine, TimeoutIsSecondsForEachStepAndTenMinutesUnlessGiven) {
    const struct {
        std::vector<std::string> arguments;
        int seconds;
    } cases[] = {
        {{"snapshot", "/a"}, 600},
        {{"snapshot", "--timeout", "5", "/a"}, 5},
        {{"--timeout=0", "copy", "/a", "/b"}, 0},
        {{"copy", "/a", "/b", "--timeout", "2147483"}, 2147483},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Parse(c.arguments).options.timeoutSeconds, c.seconds) << c.arguments.size();
    }
}

TEST(CommandLine, HelpAndVersionAreAnsweredWithoutACommand) {
    testing::internal::CaptureStdout();
    EXPECT_FALSE(ParseCommandLine({"quorlin", "--version"}));
    EXPECT_FALSE(ParseCommandLine({"quorlin", "snapshot", "--help"}));
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("quorlin 1."), std::string::npos);
    EXPECT_NE(printed.find("-- COMMAND [ARGS...]"), std::string::npos);
    EXPECT_NE(printed.find("--timeout SECONDS"), std::string::npos);
}

}  // namespace
}  // namespace qtool
