// Time limits on the asynchronous steps: the wait itself over a scripted operation, then
// every step of every entry point that never ends, through the scripted requester.
#include "WorkflowFixture.h"

#include "agent/AgentRecords.h"
#include "capi/quorlin/quorlin.h"
#include "snapshot/LimitedWait.h"

#include <memory>

namespace quorlin {
namespace testing {
namespace {

// An operation that ends during its first Wait when `endsInWait`, else never (until
// Cancel, which answers `cancelAnswer`; with `failsBeforeCancel`, the operation has
// failed with that answer by then).
class ScriptedOperation : public AsyncOperation {
public:
    unsigned long AddRef() override { return 2; }
    unsigned long Release() override { return 1; }
    HRESULT Wait(DWORD milliseconds) override {
        waits.push_back(milliseconds);
        ended = ended || endsInWait;
        return waitAnswer;
    }
    HRESULT QueryStatus(HRESULT* status, int*) override {
        *status = failed != S_OK ? failed : ended ? VSS_S_ASYNC_FINISHED : VSS_S_ASYNC_PENDING;
        return queryAnswer;
    }
    HRESULT Cancel() override {
        ++cancels;
        if (failsBeforeCancel)
            failed = cancelAnswer;
        return cancelAnswer;
    }

    bool endsInWait = false;
    bool ended = false;
    bool failsBeforeCancel = false;
    HRESULT failed = S_OK;
    HRESULT waitAnswer = S_OK;
    HRESULT queryAnswer = S_OK;
    HRESULT cancelAnswer = S_OK;
    std::vector<DWORD> waits;
    int cancels = 0;
};

TEST(WaitWithin, NoLimitWaitsAsBeforeAndAPendingOperationIsCancelledAtTheLimit) {
    const struct {
        const char* what;
        DWORD limit;
        bool endsInWait;
        HRESULT waitAnswer;
        HRESULT queryAnswer;
        HRESULT cancelAnswer;
        HRESULT result;
        int cancels;
        bool failsBeforeCancel;
    } cases[] = {
        {"no limit: Wait(INFINITE) and its answer", 0, false, E_FAIL, S_OK, S_OK, E_FAIL, 0, false},
        {"no limit, never ends: no Cancel", 0, false, S_OK, S_OK, S_OK, S_OK, 0, false},
        {"ends within the limit", 500, true, S_OK, S_OK, S_OK, S_OK, 0, false},
        {"pending after the limit: cancelled", 500, false, S_OK, S_OK, S_OK, kWaitTimedOut, 1,
         false},
        {"ended just before Cancel", 500, false, S_OK, S_OK, VSS_S_ASYNC_FINISHED, S_OK, 1, false},
        {"already cancelled", 500, false, S_OK, S_OK, VSS_S_ASYNC_CANCELLED, kWaitTimedOut, 1,
         false},
        {"Cancel fails", 500, false, S_OK, S_OK, E_FAIL, kWaitTimedOut, 1, false},
        {"failed just before Cancel: left to the caller's QueryStatus", 500, false, S_OK, S_OK,
         VSS_E_UNEXPECTED_PROVIDER_ERROR, S_OK, 1, true},
        {"the limited Wait fails: its answer", 500, false, E_ACCESSDENIED, S_OK, S_OK,
         E_ACCESSDENIED, 0, false},
        {"QueryStatus fails: left to the caller's", 500, false, S_OK, E_ACCESSDENIED, S_OK, S_OK, 0,
         false},
    };
    for (const auto& c : cases) {
        ScriptedOperation operation;
        operation.endsInWait = c.endsInWait;
        operation.waitAnswer = c.waitAnswer;
        operation.queryAnswer = c.queryAnswer;
        operation.cancelAnswer = c.cancelAnswer;
        operation.failsBeforeCancel = c.failsBeforeCancel;
        EXPECT_EQ(c.result, WaitWithin(operation, c.limit)) << c.what;
        EXPECT_EQ(c.cancels, operation.cancels) << c.what;
        EXPECT_EQ(std::vector<DWORD>{c.limit == 0 ? INFINITE : c.limit}, operation.waits) << c.what;
    }
}

// A step that never ends, with a short limit, fails at its wait's site with the timeout
// code; the backup is aborted (a completion is not) and the set is deleted once
// DoSnapshotSet has started.
struct NeverEnding {
    Entry entry;
    const char* operation;
    int site;
    bool deletes;
};

void PrintTo(const NeverEnding& row, std::ostream* out) {
    *out << row.operation << " " << row.site;
}

class NeverEndingStep : public WorkflowTest, public ::testing::WithParamInterface<NeverEnding> {};

TEST_P(NeverEndingStep, IsCancelledAndFailsAtItsWait) {
    const NeverEnding& row = GetParam();
    g_traceLevel = 2;
    agent.VssSetting(QUORLIN_SETTING_WAIT_LIMIT, 30);
    requester.SetStatus(row.operation, VSS_S_ASYNC_PENDING);
    EXPECT_EQ(QUORLIN_RESULT_FAILED, Run(row.entry));
    EXPECT_EQ(std::vector<std::string>{"There was a COM failure 0x800705b4 - .\\QuorlinClass (" +
                                       std::to_string(row.site) + ")"},
              Lines());
    const std::string op = row.operation;
    EXPECT_EQ(std::vector<std::string>{op + ".Wait(30)"}, requester.CallsNamed(op + ".Wait"));
    std::vector<std::string> cleanup;
    if (row.entry != Entry::kComplete)
        cleanup.push_back("AbortBackup()");
    if (row.deletes)
        cleanup.push_back("DeleteSnapshots(set1,2,1)");
    EXPECT_EQ(cleanup, CallsAfter(op + ".Cancel"));
    EXPECT_EQ(0, requester.LiveAsyncObjects());
    EXPECT_EQ(0, agent.State().backupInProgress);
}

const NeverEnding kNeverEnding[] = {
    {Entry::kStartBackup, "GatherWriterMetadata", 336, false},
    {Entry::kStartBackup, "PrepareForBackup", 555, false},
    {Entry::kStartBackup, "DoSnapshotSet", 572, true},
    {Entry::kStartBackup2, "GatherWriterMetadata", 893, false},
    {Entry::kStartBackup2, "PrepareForBackup", 1128, false},
    {Entry::kStartBackup2, "DoSnapshotSet", 1145, true},
    {Entry::kNoWriter, "DoSnapshotSet", 189, true},
    {Entry::kComplete, "BackupComplete", 693, true},
};

INSTANTIATE_TEST_SUITE_P(Table, NeverEndingStep, ::testing::ValuesIn(kNeverEnding));

using WaitLimitWorkflowTest = WorkflowTest;

// An operation that ends as Cancel is called has not timed out: the call succeeds.
TEST_F(WaitLimitWorkflowTest, AStepThatEndsAsItIsCancelledGoesOn) {
    agent.VssSetting(QUORLIN_SETTING_WAIT_LIMIT, 20);
    requester.SetStatus("DoSnapshotSet", VSS_S_ASYNC_PENDING);
    requester.Fail("DoSnapshotSet.Cancel", VSS_S_ASYNC_FINISHED);
    EXPECT_EQ(QUORLIN_RESULT_OK, StartBackupNoWriter(L"C:\\a"));
    EXPECT_EQ(1, agent.State().backupInProgress);
}

// The C interface sets the class's limit and reports the timeout's code and site.
TEST_F(WaitLimitWorkflowTest, TheCInterfaceReportsTheTimeoutCodeAndSite) {
    std::unique_ptr<quorlin_agent, void (*)(quorlin_agent*)> c(quorlin_agent_new(),
                                                               quorlin_agent_free);
    EXPECT_EQ(QUORLIN_REFUSED, quorlin_set_timeout(nullptr, 20));
    EXPECT_EQ(QUORLIN_OK, quorlin_set_timeout(c.get(), 20));
    EXPECT_EQ(20u, WaitLimitOf(c.get()));
    requester.SetStatus("PrepareForBackup", VSS_S_ASYNC_PENDING);
    EXPECT_EQ(QUORLIN_FAILED, quorlin_start(c.get(), Native("C:\\a").c_str(), nullptr, 0, nullptr));
    EXPECT_EQ(QUORLIN_ERROR_TIMEOUT, quorlin_last_error_code(c.get()));
    EXPECT_EQ(555, quorlin_last_error_site(c.get()));
    EXPECT_EQ(QUORLIN_OK, quorlin_set_timeout(c.get(), 0));
    EXPECT_EQ(0u, WaitLimitOf(c.get()));
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
