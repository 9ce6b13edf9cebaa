#include "CommandLine.h"
#include "Failure.h"
#include "Held.h"

#include <gtest/gtest.h>

namespace qtool {
namespace {

TEST(Held, EachSnapshotIsOneLineOfFields) {
    const std::string set = "0f1e2d3c-4b5a-4968-8776-a5b4c3d2e1f0";
    const std::int64_t now = 1000000;
    const struct {
        bool persistent;
        long pid;
        Owner owner;
        std::int64_t created;
        std::string volume;
        std::string expected;  // after "SET<TAB>"
    } cases[] = {
        {false, 4242, Owner::kLives, now - 5, "/srv", "/srv\tauto-release\t4242 running\t5s"},
        {false, 17, Owner::kGone, now - 59, "/", "/\tauto-release\t17 gone\t59s"},
        {true, 9, Owner::kGone, now - 60, "/srv", "/srv\tpersistent\t9 gone\t1m"},
        {true, 9, Owner::kGone, now - 3599, "/srv", "/srv\tpersistent\t9 gone\t59m"},
        {true, 9, Owner::kGone, now - 7200, "/srv", "/srv\tpersistent\t9 gone\t2h"},
        {true, 9, Owner::kGone, now - 3 * 86400 - 5, "/srv", "/srv\tpersistent\t9 gone\t3d"},
        {true, 0, Owner::kUnknown, 0, "\\\\?\\Volume{x}\\",
         "\\\\?\\Volume{x}\\\tpersistent\tunknown\t?"},
        {true, 0, Owner::kGone, now + 10, "/a\tb", "\"/a\\tb\"\tpersistent\tgone\t?"},
    };
    for (const auto& c : cases) {
        HeldEntry entry;
        entry.setId = set;
        entry.volume = c.volume;
        entry.persistent = c.persistent;
        entry.ownerPid = c.pid;
        entry.owner = c.owner;
        entry.created = c.created;
        EXPECT_EQ(set + "\t" + c.expected, HeldLine(entry, now));
    }
}

TEST(Held, ListAndDeleteTakeTheirArguments) {
    const struct {
        std::vector<std::string> arguments;
        Command command;
        std::string setId;
        std::vector<std::string> paths;
    } cases[] = {
        {{"list"}, Command::kList, "", {}},
        {{"list", "/srv"}, Command::kList, "", {"/srv"}},
        {{"delete", "--orphans"}, Command::kDelete, "", {}},
        {{"delete", "--orphans", "/srv"}, Command::kDelete, "", {"/srv"}},
        {{"delete", "/srv", "--orphans"}, Command::kDelete, "", {"/srv"}},
        {{"delete", "abc"}, Command::kDelete, "abc", {}},
        {{"delete", "abc", "/srv"}, Command::kDelete, "abc", {"/srv"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.begin(), "quorlin");
        const std::optional<Invocation> invocation = ParseCommandLine(arguments);
        ASSERT_TRUE(invocation);
        EXPECT_EQ(c.command, invocation->command);
        EXPECT_EQ(c.setId, invocation->setId);
        EXPECT_EQ(c.paths, invocation->paths);
    }
    const std::vector<std::vector<std::string>> mistakes = {
        {"quorlin", "delete"},
        {"quorlin", "delete", "--orphans", "/a", "/b"},
        {"quorlin", "delete", "abc", "/a", "/b"},
        {"quorlin", "list", "/a", "/b"},
        {"quorlin", "list", "--", "ls"},
    };
    for (const auto& mistake : mistakes) {
        try {
            ParseCommandLine(mistake);
            ADD_FAILURE() << mistake.back();
        } catch (const Failure& failure) {
            EXPECT_EQ(kExitUsage, failure.ExitCode()) << mistake.back();
        }
    }
}

}  // namespace
}  // namespace qtool
