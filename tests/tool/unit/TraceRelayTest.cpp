#include "Quorlin.h"
#include "TraceRelay.h"

#include <gtest/gtest.h>

namespace qtool {
namespace {

// The library writes to the relay's file through the handle, as it does for a console.
TEST(TraceRelay, CollectsTheLinesTheLibraryTracedSinceTheLastCall) {
    TraceRelay relay(false);
    CQuorlin agent;
    _Quorlin_Setting setting = {0, 4, relay.Console()};
    agent.VssSetting(setting);

    EXPECT_EQ(relay.Collect(), "");
    EXPECT_EQ(agent.VssBackupComplete(), QUORLIN_RESULT_REFUSED);
    EXPECT_EQ(relay.Collect(), "Invalid data.");
    EXPECT_EQ(relay.Collect(), "");

    agent.VssSetting(1, 0);  // quiet again: the handle stays the module's console
    EXPECT_EQ(agent.VssBackupComplete(), QUORLIN_RESULT_REFUSED);
    EXPECT_EQ(relay.Collect(), "");
}

}  // namespace
}  // namespace qtool
