// A start call made while a backup is held: the agent never says "held" when it holds
// nothing, and a persistent set is completed before it is let go of.
#include "WorkflowFixture.h"

namespace quorlin {
namespace testing {
namespace {

using HeldBackupTest = WorkflowTest;

// The new components object cannot be made: the held one is gone all the same, so
// the agent is Idle, and the remedy that the refusal names works.
TEST_F(HeldBackupTest, AFailedCreationLeavesNothingHeld) {
    for (Entry second : {Entry::kStartBackup, Entry::kStartBackup2}) {
        ScriptedRequester scripted;
        ScriptedRequester::Scope scope(scripted);
        agent = Agent();
        ASSERT_EQ(QUORLIN_RESULT_OK, StartBackup(L"C:\\a"));
        scripted.Fail("CreateVssBackupComponents", E_OUTOFMEMORY, 2);
        EXPECT_EQ(QUORLIN_RESULT_FAILED, Run(second));
        const AgentState idle = {GUID_NULL, false, true, 0, false};
        EXPECT_TRUE(idle == agent.State()) << static_cast<int>(second);
        EXPECT_EQ(QUORLIN_RESULT_REFUSED, agent.VssBackupComplete());
        scripted.Fail("CreateVssBackupComponents", S_OK, 3);
        EXPECT_EQ(QUORLIN_RESULT_OK, StartBackupNoWriter(L"C:\\a"));
        EXPECT_EQ(QUORLIN_RESULT_OK, agent.VssBackupComplete());
        EXPECT_EQ(0u, scripted.References());
    }
}

struct HeldStart {
    Entry held;                         // the start call that made the held set
    Entry next;                         // the start call made over it
    std::vector<std::string> endCalls;  // what is asked of VSS before the new set
};

// Over a held persistent set (VssStartBackupNoWriter) the next start call completes
// it first, as VssBackupComplete does; an auto-release set is only let go of.
TEST_F(HeldBackupTest, APersistentSetIsCompletedBeforeANewStart) {
    const std::vector<std::string> completion = {
        "BackupComplete()", "BackupComplete.Wait(4294967295)", "BackupComplete.QueryStatus()",
        "DeleteSnapshots(set1,2,1)"};
    const HeldStart cases[] = {
        {Entry::kNoWriter, Entry::kStartBackup, completion},
        {Entry::kNoWriter, Entry::kStartBackup2, completion},
        {Entry::kStartBackup, Entry::kStartBackup, {}},
        {Entry::kStartBackup2, Entry::kStartBackup2, {}},
    };
    for (const HeldStart& c : cases) {
        const std::string name = std::to_string(static_cast<int>(c.held)) + "/" +
                                 std::to_string(static_cast<int>(c.next));
        ScriptedRequester scripted;
        ScriptedRequester::Scope scope(scripted);
        agent = Agent();
        ASSERT_EQ(QUORLIN_RESULT_OK, Run(c.held)) << name;
        scripted.ClearCalls();
        host.consoleBytes.clear();
        g_traceLevel = 2;
        EXPECT_EQ(QUORLIN_RESULT_OK, Run(c.next)) << name;
        g_traceLevel = 4;
        std::vector<std::string> calls = scripted.Calls();
        calls.resize(c.endCalls.size() + 1);
        std::vector<std::string> expected = c.endCalls;
        expected.push_back("CreateVssBackupComponents()");
        EXPECT_EQ(expected, calls) << name;
        const std::vector<std::string> lines(c.endCalls.empty() ? 0 : 1,
                                             "Backup successfully completed.");
        EXPECT_EQ(lines, Lines()) << name;
        EXPECT_TRUE(SetId(2) == agent.State().snapshotSetId) << name;
        EXPECT_EQ(1, agent.State().backupInProgress) << name;
        agent = Agent();
    }
}

// When that completion fails, nothing new is started: the start call answers what
// the completion answered, after its report line, and the agent keeps the set so
// that VssBackupComplete can try again.
TEST_F(HeldBackupTest, AFailedCompletionOfTheHeldSetStartsNothing) {
    struct Case {
        const char* call;  // the scripted call that fails
        const char* line;  // the completion's report line
    };
    const Case cases[] = {
        {"BackupComplete", "There was a COM failure 0x80004005 - .\\QuorlinClass (691)"},
        {"DeleteSnapshots",
         "The snapshot set could not be deleted, error 0x80004005: its snapshots remain."},
    };
    for (const Case& c : cases) {
        for (Entry next : {Entry::kStartBackup, Entry::kStartBackup2}) {
            ScriptedRequester scripted;
            ScriptedRequester::Scope scope(scripted);
            agent = Agent();
            ASSERT_EQ(QUORLIN_RESULT_OK, StartBackupNoWriter(L"C:\\a"));
            scripted.Fail(c.call, E_FAIL);
            scripted.ClearCalls();
            host.consoleBytes.clear();
            g_traceLevel = 2;
            EXPECT_EQ(QUORLIN_RESULT_FAILED, Run(next)) << c.call;
            g_traceLevel = 4;
            EXPECT_TRUE(scripted.CallsNamed("CreateVssBackupComponents").empty()) << c.call;
            EXPECT_EQ(1u, scripted.CallsNamed("DeleteSnapshots").size()) << c.call;
            EXPECT_EQ(std::vector<std::string>{c.line}, Lines()) << c.call;
            const AgentState ended = {SetId(1), true, false, 0, true};
            EXPECT_TRUE(ended == agent.State()) << c.call;
            agent = Agent();
        }
    }
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
