// What the held set is, asked through the C interface (and so the class): only while a
// backup is held, and as the snapshot service answers.
#include "WorkflowFixture.h"

#include "capi/quorlin/quorlin.h"
#include "text/GuidText.h"

#include <cstring>

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

// The set's identity, as the held list writes it, once a start call made one.
TEST_F(SetInstantCallTest, TheSetIdIsThatOfTheLastStartCall) {
    quorlin_agent* agent = quorlin_agent_new();
    char id[37] = "x";
    EXPECT_EQ(QUORLIN_OK, quorlin_set_id(agent, id, sizeof id));
    EXPECT_STREQ("", id);
    ASSERT_EQ(QUORLIN_OK, quorlin_start(agent, Native("C:\\a").c_str(), nullptr, 0, nullptr));
    const struct {
        size_t size;
        int result;
        std::string written;
    } cases[] = {
        {37, QUORLIN_OK, GuidText(SetId(1))},
        {36, QUORLIN_BUFFER_TOO_SMALL, ""},
        {0, QUORLIN_REFUSED, "x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        std::strcpy(id, "x");
        EXPECT_EQ(c.result, quorlin_set_id(agent, id, c.size));
        EXPECT_EQ(c.written, id);
    }
    EXPECT_EQ(QUORLIN_REFUSED, quorlin_set_id(agent, nullptr, 37));
    EXPECT_EQ(QUORLIN_REFUSED, quorlin_set_id(nullptr, id, sizeof id));
    quorlin_agent_free(agent);
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
