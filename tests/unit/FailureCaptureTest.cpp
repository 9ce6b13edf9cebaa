// Nothing raised inside an entry point leaves it. A failure in the protected
// region is cleaned up before it is reported; one before the region (or one that
// is not a failure type of the library) still becomes result 1. The sanitizer
// and valgrind runs of these tests check that every raised object is freed.
#include "WorkflowFixture.h"

#include "diag/Exceptions.h"

#include <functional>
#include <new>
#include <stdexcept>

namespace quorlin {
namespace testing {
namespace {

using FailureCaptureTest = WorkflowTest;

TEST_F(FailureCaptureTest, TheBackupIsAbortedBeforeTheReportLine) {
    std::vector<std::string> linesAtAbort;
    requester.beforeCall = [&](const std::string& call) {
        if (call == "AbortBackup")
            linesAtAbort = Lines();
    };
    requester.Fail("SetBackupState", E_FAIL);
    g_traceLevel = 2;
    EXPECT_EQ(QUORLIN_RESULT_FAILED, StartBackup(L"C:\\a"));
    EXPECT_TRUE(linesAtAbort.empty());
    EXPECT_EQ(1u, Lines().size());
}

// A console that refuses the first line of the preparation: nothing was started,
// so nothing is cleaned up, and a held backup stays held.
TEST_F(FailureCaptureTest, AConsoleFailureBeforeTheRegionChangesNothing) {
    for (Entry entry : {Entry::kStartBackup, Entry::kStartBackup2, Entry::kNoWriter}) {
        Agent held;
        PathArrays paths{L"C:\\a"};
        ASSERT_EQ(QUORLIN_RESULT_OK,
                  held.VssStartBackup2(paths.Sources(), paths.Outputs(), paths.Count()));
        agent = held;
        requester.ClearCalls();
        host.consoleFails = true;
        EXPECT_EQ(QUORLIN_RESULT_FAILED, Run(entry));
        EXPECT_TRUE(requester.Calls().empty());
        EXPECT_EQ(1, agent.State().backupInProgress);
        host.consoleFails = false;
        agent = Agent();
    }
    host.consoleFails = true;
    EXPECT_EQ(QUORLIN_RESULT_FAILED, agent.VssBackupComplete());  // its warning line fails
}

// A console that fails inside the region: cleaned up; the report line reaches the
// debugger, its own console failure is dropped.
TEST_F(FailureCaptureTest, AConsoleFailureInsideTheRegionIsCleanedUp) {
    requester.beforeCall = [&](const std::string& call) {
        if (call == "AddToSnapshotSet")
            host.consoleFails = true;
    };
    EXPECT_EQ(QUORLIN_RESULT_FAILED, StartBackup(L"C:\\a"));
    EXPECT_EQ(std::vector<std::string>{"AbortBackup()"}, CallsAfter("AddToSnapshotSet"));
    EXPECT_EQ(0, agent.State().backupInProgress);
    const std::vector<std::wstring> tail = {L"Calling SetBackupState",
                                            L"Unable to write to the console. Error 6."};
    ASSERT_GE(host.debugOutput.size(), 2u);
    EXPECT_EQ(tail, std::vector<std::wstring>(host.debugOutput.end() - 2, host.debugOutput.end()));
}

// A failure that is not one of the library's own still gets one plain report line.
TEST_F(FailureCaptureTest, AnUnexpectedFailureInsideTheRegionIsCleanedUpAndReported) {
    struct Case {
        std::function<void()> raise;
        const char* line;
    };
    const Case cases[] = {
        {[] { throw std::bad_alloc(); }, "There was an unexpected failure: out of memory."},
        {[] { throw std::length_error("vector"); }, "There was an unexpected failure."},
        {[] { throw 42; }, "There was an unexpected failure."},
    };
    g_traceLevel = 2;
    for (const Case& c : cases) {
        ScriptedRequester scripted;
        ScriptedRequester::Scope scope(scripted);
        scripted.beforeCall = [&](const std::string& call) {
            if (call == "DoSnapshotSet.QueryStatus")
                c.raise();
        };
        host.consoleBytes.clear();
        Agent failing;
        std::wstring source = Native(L"C:\\a");
        int length = -7;
        EXPECT_EQ(QUORLIN_RESULT_FAILED, failing.VssStartBackup(&source[0], nullptr, length))
            << c.line;
        const std::vector<std::string> cleanup = {"AbortBackup()", "DeleteSnapshots(set1,2,1)"};
        const std::vector<std::string>& calls = scripted.Calls();
        ASSERT_GE(calls.size(), 2u);
        EXPECT_EQ(cleanup, std::vector<std::string>(calls.end() - 2, calls.end())) << c.line;
        EXPECT_EQ(std::vector<std::string>{c.line}, Lines());
        EXPECT_EQ(-7, length);
    }
}

// A failure raised by the clean-up itself does not stop it.
TEST_F(FailureCaptureTest, TheCleanupGoesOnWhenARequesterCallRaises) {
    requester.beforeCall = [](const std::string& call) {
        if (call == "AbortBackup")
            throw new CComException(E_FAIL, kQuorlinClassSource, 1);
    };
    requester.Fail("GetSnapshotProperties", E_FAIL);
    g_traceLevel = 2;
    EXPECT_EQ(QUORLIN_RESULT_FAILED, StartBackup(L"C:\\a"));
    EXPECT_EQ("DeleteSnapshots(set1,2,1)", requester.Calls().back());
    EXPECT_EQ(
        std::vector<std::string>{"There was a COM failure 0x80004005 - .\\QuorlinClass (586)"},
        Lines());
}

class RaisingHost : public FakeHost {
public:
    HRESULT InitializeComSecurity() override { throw std::bad_alloc(); }
};

TEST(FailureCaptureHostTest, AnAllocationFailureInThePreparationIsResultOne) {
    TraceState traceState;
    RaisingHost host;
    FakeHost::Scope hostScope(host);
    host.keyOpen = Host::KeyOpen::kNotApplicable;
    ScriptedRequester requester;
    ScriptedRequester::Scope requesterScope(requester);
    Agent agent;
    wchar_t source[] = L"x";
    int length = 0;
    EXPECT_EQ(QUORLIN_RESULT_FAILED, agent.VssStartBackup(source, nullptr, length));
    EXPECT_TRUE(requester.Calls().empty());
}

// The completion's success line cannot be written: the backup is complete all the
// same (the set deleted once, the components object let go), so the result is 0.
TEST_F(FailureCaptureTest, AFailedSuccessLineStillEndsTheBackup) {
    ASSERT_EQ(QUORLIN_RESULT_OK, StartBackup(L"C:\\a"));
    requester.ClearCalls();
    g_traceLevel = 2;
    host.consoleFails = true;
    EXPECT_EQ(QUORLIN_RESULT_OK, agent.VssBackupComplete());
    EXPECT_EQ(1u, requester.CallsNamed("DeleteSnapshots").size());
    EXPECT_FALSE(agent.State().holdsComponents);
    EXPECT_EQ(0u, requester.References());
}

TEST_F(FailureCaptureTest, TheDestructorSwallowsEveryFailure) {
    ASSERT_EQ(QUORLIN_RESULT_OK, StartBackup(L"C:\\a"));
    requester.ClearCalls();
    host.consoleFails = true;
    {
        Agent copy(agent);
        agent = Agent();
    }  // "Calling BackupComplete" fails: the set is still deleted
    EXPECT_EQ(std::vector<std::string>{"DeleteSnapshots(set1,2,1)"}, requester.Calls());
    EXPECT_EQ(0u, requester.References());
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
