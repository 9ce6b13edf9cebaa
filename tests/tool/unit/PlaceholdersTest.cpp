#include "Failure.h"
#include "Placeholders.h"

#include <gtest/gtest.h>

namespace qtool {
namespace {

const std::vector<std::string> kSnapshots = {"/snap/one/a", "/snap/two/b"};

// Wherever {} or {N} stands in an argument; doubled, it is text.
TEST(Placeholders, PlaceholdersAreReplacedWhereverTheyStand) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"{}", "/snap/one/a"},
        {"{2}", "/snap/two/b"},
        {"--file={}", "--file=/snap/one/a"},
        {"{}/", "/snap/one/a/"},
        {"{1}:{2}", "/snap/one/a:/snap/two/b"},
        {"{}}", "/snap/one/a}"},
        {"{{}}", "{}"},
        {"{{2}}/{2}", "{2}//snap/two/b"},
        {"{{}", "{/snap/one/a"},
        {"{{.Name}}", "{{.Name}}"},
        {"a{2,3}", "a{2,3}"},
        {"{x}", "{x}"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReplacePlaceholders({c.first}, kSnapshots), std::vector<std::string>{c.second})
            << c.first;
}

TEST(Placeholders, NumbersBeyondThePathsAreUsageErrors) {
    for (const char* argument :
         {"{0}", "{3}", "{00}", "{99999999999999999999999}", "x{3}", "{{1}}{3}"}) {
        try {
            CheckPlaceholders({"cat", argument}, 2);
            ADD_FAILURE() << argument << " was accepted";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.ExitCode(), kExitUsage) << argument;
            EXPECT_NE(std::string(failure.what()).find(argument), std::string::npos);
        }
    }
    EXPECT_NO_THROW(CheckPlaceholders({"{1}", "{2}", "{}", "{{3}}"}, 2));
    EXPECT_NO_THROW(CheckPlaceholders({"echo", "no placeholders"}, 0));
}

// Every snapshot of the set, each beside the path it is the snapshot of.
TEST(Placeholders, EnvironmentNumbersEverySnapshotFromOne) {
    EXPECT_EQ(SnapshotEnvironment({"/srv", "/srv/nested"}, kSnapshots),
              (Environment{{"QUORLIN_SNAPSHOT_1", "/snap/one/a"},
                           {"QUORLIN_PATH_1", "/srv"},
                           {"QUORLIN_SNAPSHOT_2", "/snap/two/b"},
                           {"QUORLIN_PATH_2", "/srv/nested"},
                           {"QUORLIN_SNAPSHOT_COUNT", "2"}}));
}

}  // namespace
}  // namespace qtool
