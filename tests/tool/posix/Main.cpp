// Runs the tool's tests; those on btrfs only where scratch volumes can be made, with one
// line saying why not elsewhere.
#include "BtrfsScratch.h"

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::string reason = tooltest::BtrfsScratch::WhyNot();
    if (!reason.empty()) {
        std::printf("Skipping ToolOnBtrfs*: %s.\n", reason.c_str());
        std::string filter = GTEST_FLAG_GET(filter);
        GTEST_FLAG_SET(
            filter, filter + (filter.find('-') == std::string::npos ? "-" : ":") + "ToolOnBtrfs*");
    }
    return RUN_ALL_TESTS();
}
