// A start call made while a backup is held: the agent never says "held" when it holds
// nothing, a persistent set is completed before it is let go of, and what is held is of
// the kind of the start call that made it.
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

// The kind of the held set is that of the start call that made it: after a completed
// backup without writers, a set of VssStartBackup2 is let go of by a new start, not
// completed first.
TEST_F(HeldBackupTest, AHeldSetIsOfTheKindOfItsOwnStart) {
    ASSERT_EQ(QUORLIN_RESULT_OK, StartBackupNoWriter(L"C:\\a"));
    ASSERT_EQ(QUORLIN_RESULT_OK, agent.VssBackupComplete());
    ASSERT_EQ(QUORLIN_RESULT_OK, Run(Entry::kStartBackup2));
    requester.ClearCalls();
    ASSERT_EQ(QUORLIN_RESULT_OK, StartBackup(L"C:\\a"));
    EXPECT_EQ("CreateVssBackupComponents()", requester.Calls().front());
}

struct RemainingSet {
    bool atStart;  // the set remained after its failed start (else after its completion)
    Entry next;    // the start call made after that
    bool deletes;  // the deletion works this time
};

// A persistent set whose deletion failed stays known until it is gone: the next start
// call of any kind deletes it first (only that: its backup has ended), and starts nothing
// while it cannot.
TEST_F(HeldBackupTest, APersistentSetThatRemainsIsDeletedBeforeTheNextStart) {
    const RemainingSet cases[] = {{false, Entry::kStartBackup, true},
                                  {false, Entry::kNoWriter, false},
                                  {true, Entry::kStartBackup2, true},
                                  {true, Entry::kNoWriter, true}};
    for (const RemainingSet& c : cases) {
        SCOPED_TRACE(std::to_string(c.atStart) + std::to_string(static_cast<int>(c.next)));
        ScriptedRequester scripted;
        ScriptedRequester::Scope scope(scripted);
        agent = Agent();
        scripted.Fail("DeleteSnapshots", E_ACCESSDENIED);
        scripted.Fail("GetSnapshotProperties", c.atStart ? E_FAIL : S_OK);
        ASSERT_EQ(c.atStart ? QUORLIN_RESULT_FAILED : QUORLIN_RESULT_OK, Run(Entry::kNoWriter));
        scripted.Fail("GetSnapshotProperties", S_OK);
        if (!c.atStart) {
            ASSERT_EQ(QUORLIN_RESULT_FAILED, agent.VssBackupComplete());
        }
        scripted.Fail("DeleteSnapshots", c.deletes ? S_OK : E_ACCESSDENIED);
        scripted.ClearCalls();
        EXPECT_EQ(c.deletes ? QUORLIN_RESULT_OK : QUORLIN_RESULT_FAILED, Run(c.next));
        const std::vector<std::string> calls = scripted.Calls();
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ("DeleteSnapshots(set1,2,1)", calls[0]);
        EXPECT_EQ(c.deletes ? "CreateVssBackupComponents()" : "", calls.size() > 1 ? calls[1] : "");
        EXPECT_TRUE((c.deletes ? SetId(2) : SetId(1)) == agent.State().snapshotSetId);
        agent = Agent();  // before `scripted` goes
    }
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
