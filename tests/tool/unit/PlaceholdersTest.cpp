#include "Failure.h"
#include "Placeholders.h"

#include <gtest/gtest.h>

namespace qtool {
namespace {

const std::vector<std::string> kSnapshots = {"/snap/one/a", "/snap/two/b"};

TEST(Placeholders, WholeArgumentsNamingAPathAreReplaced) {
    std::vector<std::string> replaced = ReplacePlaceholders(
        {"tar", "-C", "{}", "{1}", "{2}", "--file={}", "{x}", "{}}", "{", "{}"}, kSnapshots);
    EXPECT_EQ(replaced,
              (std::vector<std::string>{"tar", "-C", "/snap/one/a", "/snap/one/a", "/snap/two/b",
                                        "--file={}", "{x}", "{}}", "{", "/snap/one/a"}));
}

TEST(Placeholders, NumbersBeyondThePathsAreUsageErrors) {
    for (const char* argument : {"{0}", "{3}", "{00}", "{99999999999999999999999}"}) {
        try {
            CheckPlaceholders({"cat", argument}, 2);
            ADD_FAILURE() << argument << " was accepted";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.ExitCode(), kExitUsage) << argument;
            EXPECT_NE(std::string(failure.what()).find(argument), std::string::npos);
        }
    }
    EXPECT_NO_THROW(CheckPlaceholders({"{1}", "{2}", "{}"}, 2));
    EXPECT_NO_THROW(CheckPlaceholders({"echo", "no placeholders"}, 0));
}

TEST(Placeholders, EnvironmentNumbersThePathsFromOne) {
    Environment environment = SnapshotEnvironment(kSnapshots);
    ASSERT_EQ(environment.size(), 2u);
    EXPECT_EQ(environment[0],
              (std::pair<std::string, std::string>("QUORLIN_SNAPSHOT_1", "/snap/one/a")));
    EXPECT_EQ(environment[1],
              (std::pair<std::string, std::string>("QUORLIN_SNAPSHOT_2", "/snap/two/b")));
}

}  // namespace
}  // namespace qtool
