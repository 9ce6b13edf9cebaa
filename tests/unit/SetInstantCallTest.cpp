// What the held set is, asked through the C interface (and so the class): only while a
// backup is held, and as the snapshot service answers.
#include "WorkflowFixture.h"

#include "capi/quorlin/quorlin.h"

namespace quorlin {
namespace testing {
namespace {

using SetInstantCallTest = WorkflowTest;

TEST_F(SetInstantCallTest, TheSetIsDescribedOnlyWhileABackupIsHeld) {
    requester.instant.fileSystems = 2;
    requester.instant.oneTransaction = 1;
    requester.instant.tries = 4;
    requester.instant.windowMilliseconds = 3.5;
    const std::string source = Native("C:\\Data\\report.doc");
    const struct {
        const char* what;
        bool start;     // a start call first
        HRESULT fails;  // what QuerySetInstant answers
        bool complete;  // and its completion
        int result;
    } cases[] = {
        {"nothing held", false, S_OK, false, QUORLIN_REFUSED},
        {"held", true, S_OK, false, QUORLIN_OK},
        {"held, the service cannot tell", true, E_NOTIMPL, false, QUORLIN_FAILED},
        {"completed", true, S_OK, true, QUORLIN_REFUSED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        quorlin_agent* agent = quorlin_agent_new();
        if (c.fails != S_OK)
            requester.Fail("QuerySetInstant", c.fails);
        if (c.start) {
            ASSERT_EQ(QUORLIN_OK, quorlin_start(agent, source.c_str(), nullptr, 0, nullptr));
        }
        if (c.complete) {
            ASSERT_EQ(QUORLIN_OK, quorlin_complete(agent));
        }
        quorlin_set_instant instant = {-1, -1, -1, -1, -1};
        EXPECT_EQ(c.result, quorlin_describe_set(agent, &instant));
        if (c.result == QUORLIN_OK) {
            EXPECT_EQ(2, instant.file_systems);
            EXPECT_EQ(1, instant.one_transaction);
            EXPECT_EQ(0, instant.whole_set);
            EXPECT_EQ(4, instant.tries);
            EXPECT_EQ(3.5, instant.window_ms);
        } else {
            EXPECT_EQ(-1, instant.file_systems) << "left as it was";
        }
        EXPECT_EQ(QUORLIN_REFUSED, quorlin_describe_set(agent, nullptr));
        quorlin_agent_free(agent);
        requester.Fail("QuerySetInstant", S_OK);
    }
    EXPECT_EQ(QUORLIN_REFUSED, quorlin_describe_set(nullptr, nullptr));
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
