#include "InPlace.h"

#include <gtest/gtest.h>

namespace qtool {
namespace {

std::vector<std::string> Targets(const std::vector<Bind>& binds) {
    std::vector<std::string> targets;
    for (const Bind& bind : binds)
        targets.push_back(bind.target);
    return targets;
}

TEST(InPlacePlan, BindsComeOncePerPlaceWithParentsBeforeWhatTheyHold) {
    struct Case {
        const char* what;
        std::vector<std::string> sources;
        std::vector<std::string> snapshots;
        std::vector<std::string> targets;
        std::vector<int> enclosing;
    };
    const std::vector<Case> cases = {
        {"nested volumes after their PATH",
         {"/v/data", "/v/data/sub/deeper", "/v/data/sub"},
         {"/v/.s/1/data", "/v/.s/3/", "/v/.s/2/"},
         {"/v/data", "/v/data/sub", "/v/data/sub/deeper"},
         {-1, 0, 1}},
        {"a PATH named twice is bound once",
         {"/v/a", "/w/b", "/v/a"},
         {"/s/1", "/s/2", "/s/1"},
         {"/v/a", "/w/b"},
         {-1, -1}},
        {"a sibling sharing a prefix is not enclosed",
         {"/v/data", "/v/data2", "/v/data/x"},
         {"/s/1", "/s/2", "/s/1/x"},
         {"/v/data", "/v/data/x", "/v/data2"},
         {-1, 0, -1}},
    };
    for (const Case& c : cases) {
        std::vector<Bind> binds = PlanBinds(c.sources, c.snapshots);
        EXPECT_EQ(Targets(binds), c.targets) << c.what;
        EXPECT_EQ(EnclosingBinds(binds), c.enclosing) << c.what;
        for (const Bind& bind : binds) {
            size_t index =
                std::find(c.sources.begin(), c.sources.end(), bind.target) - c.sources.begin();
            ASSERT_LT(index, c.snapshots.size()) << c.what;
            EXPECT_EQ(bind.snapshot, c.snapshots[index]) << c.what;
        }
    }
}

TEST(InPlacePlan, ArgumentsOfTheCommandsProcessReadBackOrAreRefused) {
    const std::vector<Bind> binds = {{"/v/a b", "/s/1", ""},
                                     {"/v/a b/--", "/s/--", std::string("\0\x9f-\xff", 4)}};
    const std::vector<std::string> command = {"tar", "-cf", "-", "/v/a b", "--"};
    std::vector<Bind> read;
    std::vector<std::string> readCommand;
    ASSERT_TRUE(ParseInPlaceArguments(InPlaceArguments(binds, command), read, readCommand));
    ASSERT_EQ(read.size(), binds.size());
    for (size_t i = 0; i < binds.size(); ++i) {
        EXPECT_EQ(read[i].target, binds[i].target);
        EXPECT_EQ(read[i].snapshot, binds[i].snapshot);
        EXPECT_EQ(read[i].origin, binds[i].origin);
    }
    EXPECT_EQ(readCommand, command);

    const std::vector<std::vector<std::string>> refused = {
        {},
        {"snapshot", "/a"},
        {"-1", "tar"},
        {"1", "/a", "/s", "-"},  // no command
        {"2", "/a", "/s", "-", "tar"},
        {"1", "/a", "/s", "0g", "tar"},  // an origin that is not hexadecimal
        {"1", "/a", "/s", "abc", "tar"},
        {"99999999999999999999", "/a", "/s", "tar"},
    };
    for (const auto& arguments : refused)
        EXPECT_FALSE(ParseInPlaceArguments(arguments, read, readCommand))
            << (arguments.empty() ? "" : arguments[0]);
}

}  // namespace
}  // namespace qtool
