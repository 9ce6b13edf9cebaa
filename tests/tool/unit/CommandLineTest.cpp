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
        {"snapshot", "--retry", "-1", "/a"},
        {"snapshot", "--retry", "many", "/a"},
    };
    for (const auto& mistake : mistakes) {
        std::string line;
        for (const auto& argument : mistake)
            line += argument + " ";
        EXPECT_EQ(UsageExitCode(mistake), kExitUsage) << line;
    }
}

TEST(CommandLine, HelpAndVersionAreAnsweredWithoutACommand) {
    testing::internal::CaptureStdout();
    EXPECT_FALSE(ParseCommandLine({"quorlin", "--version"}));
    EXPECT_FALSE(ParseCommandLine({"quorlin", "snapshot", "--help"}));
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("quorlin 1."), std::string::npos);
    EXPECT_NE(printed.find("-- COMMAND [ARGS...]"), std::string::npos);
}

}  // namespace
}  // namespace qtool
