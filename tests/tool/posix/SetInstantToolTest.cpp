// quorlin snapshot over a folder whose nested subvolumes an application writes in order:
// the set is one instant of one file system, says so in its JSON, and shows a state that
// existed.
#include "ToolOnBtrfs.h"
#include "posix/OrderedWriter.h"

#include <gtest/gtest.h>

#include <regex>

namespace tooltest {
namespace {

using quorlin::testing::kCounterFile;
using quorlin::testing::OrderedWriter;
using quorlin::testing::ReadCounter;
using quorlin::testing::StateExisted;

TEST_F(ToolOnBtrfs, ANestedTreeIsOneInstantAndItsJsonSaysSo) {
    const std::string folder = Volume() + "/ordered";
    ASSERT_EQ(Shell("mkdir '" + folder + "' && cd '" + folder +
                    "' && for v in a b c; do btrfs -q subvolume create $v; done && echo made"),
              "made\n");
    std::vector<std::string> volumes = {folder + "/a", folder + "/b", folder + "/c"};
    int whole = 0;
    {
        OrderedWriter writer(volumes, true);
        ASSERT_TRUE(writer.Running());
        const std::regex snapshot(R"re("snapshot":"([^"]*)")re");
        const std::regex instant(
            R"re("instant":\{"file_systems":1,"one_transaction":(0|1),)re"
            R"re("whole_set":(true|false),"tries":[1-4],"window_ms":[0-9.]+\})re");
        for (int set = 0; set < 5; ++set) {
            ToolProcess tool({"snapshot", "--json", folder});
            ASSERT_TRUE(tool.WaitForLines(1, 20));
            const std::string json = tool.Out();
            std::smatch shape;
            EXPECT_TRUE(std::regex_search(json, shape, instant)) << json;
            std::vector<long> counters;
            for (std::sregex_iterator it(json.begin(), json.end(), snapshot), end; it != end; ++it)
                if (it->str(1).back() == '/')  // the nested volumes' own snapshots
                    counters.push_back(ReadCounter(it->str(1) + kCounterFile));
            EXPECT_EQ(counters.size(), volumes.size()) << json;
            if (!shape.empty() && shape.str(2) == "true") {
                ++whole;
                EXPECT_TRUE(StateExisted(counters)) << json;
            }
            tool.WriteInput("\n");
            EXPECT_EQ(tool.Wait(20).exitCode, 0);
        }
    }
    RecordProperty("whole sets of 5", whole);
    Shell("btrfs -q subvolume delete '" + folder + "'/* && rmdir '" + folder + "'");
}

}  // namespace
}  // namespace tooltest
