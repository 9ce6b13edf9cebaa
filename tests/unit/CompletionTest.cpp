// VssBackupComplete, the destructor's completion, copies sharing one backup, and
// the references to the components object that the agent holds.
#include "WorkflowFixture.h"

#include <memory>

namespace quorlin {
namespace testing {
namespace {

using CompletionTest = WorkflowTest;

const std::vector<std::string> kCompletionCalls = {
    "BackupComplete()", "BackupComplete.Wait(4294967295)", "BackupComplete.QueryStatus()",
    "DeleteSnapshots(set1,2,1)"};

TEST_F(CompletionTest, CompletesDeletesAndLetsGo) {
    ASSERT_EQ(QUORLIN_RESULT_OK, StartBackup(L"C:\\a"));
    requester.ClearCalls();
    host.consoleBytes.clear();

    EXPECT_EQ(QUORLIN_RESULT_OK, agent.VssBackupComplete());
    const std::vector<std::string> lines = {"Calling BackupComplete",
                                            "Backup successfully completed."};
    EXPECT_EQ(lines, Lines());
    EXPECT_EQ(kCompletionCalls, requester.Calls());
    const AgentState idle = {SetId(1), true, false, 0, false};
    EXPECT_TRUE(idle == agent.State());
    EXPECT_EQ(0u, requester.References());
    EXPECT_EQ(0, requester.LiveAsyncObjects());
}

struct Deletion {
    Entry start;                     // what made the held set
    HRESULT deleteResult;            // what DeleteSnapshots answers
    bool leavesOne;                  // and whether it names a snapshot it did not delete
    bool releaseDeletes;             // the service deletes auto-release sets at their release
    int result;                      // of VssBackupComplete
    std::vector<std::string> lines;  // at verbosity 2
};

// Snapshots that remain after completion make it fail with a report line, and the
// agent keeps the set so that completing again tries the deletion once more. Only an
// auto-release set that the service deletes at its release counts as gone.
TEST_F(CompletionTest, SnapshotsThatRemainMakeTheCompletionFail) {
    const std::string remain =
        "The snapshot set could not be deleted, error 0x80070005: "
        "its snapshots remain.";
    const std::string done = "Backup successfully completed.";
    const Deletion cases[] = {
        {Entry::kStartBackup, E_ACCESSDENIED, false, false, 1, {remain}},
        {Entry::kNoWriter, E_ACCESSDENIED, false, false, 1, {remain}},
        {Entry::kNoWriter, E_ACCESSDENIED, false, true, 1, {remain}},
        {Entry::kStartBackup,
         S_FALSE,
         false,
         false,
         1,
         {"The snapshot set could not be deleted, error 0x1: its snapshots remain."}},
        {Entry::kStartBackup,
         S_OK,
         true,
         false,
         1,
         {"The snapshot set could not be deleted, error 0x80004005: its snapshots remain."}},
        {Entry::kStartBackup2, E_ACCESSDENIED, false, true, 0, {done}},
        {Entry::kStartBackup, VSS_E_OBJECT_NOT_FOUND, false, false, 0, {done}},
    };
    for (const Deletion& c : cases) {
        const std::string name = std::to_string(static_cast<int>(c.start)) + "/" +
                                 std::to_string(c.deleteResult) + (c.leavesOne ? "/one" : "");
        ScriptedRequester scripted;
        ScriptedRequester::Scope scope(scripted);
        host.releaseDeletesAutoReleaseSets = c.releaseDeletes;
        g_traceLevel = 0;
        agent = Agent();
        ASSERT_EQ(QUORLIN_RESULT_OK, Run(c.start)) << name;
        if (c.deleteResult != S_OK)
            scripted.Fail("DeleteSnapshots", c.deleteResult);
        if (c.leavesOne)
            scripted.undeletedSnapshot = SnapshotId(1);
        host.consoleBytes.clear();
        g_traceLevel = 2;
        EXPECT_EQ(c.result, agent.VssBackupComplete()) << name;
        EXPECT_EQ(c.lines, Lines()) << name;
        EXPECT_EQ(c.result != 0, agent.State().holdsComponents) << name;
        EXPECT_EQ(0, agent.State().backupInProgress) << name;
        if (c.result == 0)
            continue;
        // Completing again asks for the deletion again, and only for that: the backup is
        // complete already. Once the snapshots are gone, that completion succeeds.
        scripted.ClearCalls();
        scripted.Fail("DeleteSnapshots", S_OK);
        scripted.undeletedSnapshot = GUID_NULL;
        host.consoleBytes.clear();
        EXPECT_EQ(QUORLIN_RESULT_OK, agent.VssBackupComplete()) << name;
        EXPECT_EQ(std::vector<std::string>{"DeleteSnapshots(set1,2,1)"}, scripted.Calls()) << name;
        EXPECT_EQ(std::vector<std::string>{done}, Lines()) << name;
        agent = Agent();
    }
}

// On a platform whose service deletes auto-release sets at their release, the failed
// deletion is a step line before the success line.
TEST_F(CompletionTest, AFailedDeletionOfAnAutoReleaseSetIsAStepLineWhereReleaseDeletesIt) {
    host.releaseDeletesAutoReleaseSets = true;
    ASSERT_EQ(QUORLIN_RESULT_OK, StartBackup(L"C:\\a"));
    requester.Fail("DeleteSnapshots", E_ACCESSDENIED);
    host.consoleBytes.clear();
    EXPECT_EQ(QUORLIN_RESULT_OK, agent.VssBackupComplete());
    const std::vector<std::string> lines = {
        "Calling BackupComplete",
        "DeleteSnapshots failed 0x80070005; the snapshot set goes when it is released.",
        "Backup successfully completed."};
    EXPECT_EQ(lines, Lines());
    EXPECT_EQ(0u, requester.References());
}

// The clean-up aborts before it deletes, and deletes even when the abort fails.
TEST_F(CompletionTest, CleanupDeletesAfterAFailedAbort) {
    requester.Fail("AbortBackup", E_FAIL);
    requester.SetStatus("DoSnapshotSet", VSS_S_ASYNC_CANCELLED);
    EXPECT_EQ(QUORLIN_RESULT_FAILED, StartBackup(L"C:\\a"));
    const std::vector<std::string> cleanup = {"AbortBackup()", "DeleteSnapshots(set1,2,1)"};
    EXPECT_EQ(cleanup, CallsAfter("DoSnapshotSet.QueryStatus"));
}

// A start call that failed has aborted its backup: with no set left, nothing is left to
// complete, and no BackupComplete reaches the aborted object.
TEST_F(CompletionTest, AnAbortedStartIsNotCompleted) {
    requester.Fail("PrepareForBackup", E_FAIL, 1);
    ASSERT_EQ(QUORLIN_RESULT_FAILED, StartBackup(L"C:\\a"));
    requester.ClearCalls();
    host.consoleBytes.clear();
    EXPECT_EQ(QUORLIN_RESULT_REFUSED, agent.VssBackupComplete());
    EXPECT_EQ("Invalid data.", Lines().back());
    EXPECT_TRUE(requester.Calls().empty());
}

TEST_F(CompletionTest, UnsupportedPlatformKeepsTheHeldBackup) {
    PathArrays paths{L"C:\\a"};
    ASSERT_EQ(QUORLIN_RESULT_OK, StartBackup2(paths));
    host.versionAvailable = true;
    host.majorVersion = 5;
    requester.ClearCalls();
    EXPECT_EQ(QUORLIN_RESULT_REFUSED, agent.VssBackupComplete());
    EXPECT_TRUE(requester.Calls().empty());
    EXPECT_EQ(1, agent.State().backupInProgress);
}

struct Destruction {
    const char* state;
    std::vector<std::string> calls;  // what destroying the agent asks of VSS
};

TEST_F(CompletionTest, DestructionCompletesWhatIsHeld) {
    const Destruction cases[] = {
        {"Idle", {}},
        {"Held", kCompletionCalls},
        {"Aborted", {}},
    };
    for (const Destruction& c : cases) {
        ScriptedRequester scripted;
        ScriptedRequester::Scope scope(scripted);
        {
            auto other = std::make_unique<Agent>();
            std::wstring source = Native(L"C:\\a");
            int length = 0;
            if (std::string(c.state) == "Aborted")
                scripted.Fail("GetSnapshotProperties", E_FAIL);
            if (std::string(c.state) != "Idle")
                other->VssStartBackup(&source[0], nullptr, length);
            scripted.ClearCalls();
            host.consoleBytes.clear();
            other.reset();
        }
        EXPECT_EQ(c.calls, scripted.Calls()) << c.state;
        EXPECT_EQ(0u, scripted.References()) << c.state;
        if (std::string(c.state) == "Idle") {
            const std::vector<std::string> lines = {
                "Wrong calling sequence, call VssStartBackup first.", "Invalid data."};
            EXPECT_EQ(lines, Lines());
        }
    }
}

// A copy shares the backup: destroying it first ends the backup for both.
TEST_F(CompletionTest, ACopyDestroyedFirstEndsTheBackupForBoth) {
    ASSERT_EQ(QUORLIN_RESULT_OK, StartBackup(L"C:\\a"));
    EXPECT_EQ(1u, requester.References());
    {
        auto copy = std::make_unique<Agent>(agent);
        Agent assigned;
        assigned = agent;
        EXPECT_EQ(3u, requester.References());
        requester.ClearCalls();
        copy.reset();
        EXPECT_EQ(kCompletionCalls, requester.Calls());
        EXPECT_EQ(2u, requester.References());
    }
    EXPECT_EQ(1u, requester.References());
    // The source still believes it holds the backup and completes it once more.
    requester.ClearCalls();
    EXPECT_EQ(QUORLIN_RESULT_OK, agent.VssBackupComplete());
    EXPECT_EQ(kCompletionCalls, requester.Calls());
    EXPECT_EQ(0u, requester.References());
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
