// Final statuses of the asynchronous operations, and success codes at call sites.
#include "WorkflowFixture.h"

namespace quorlin {
namespace testing {
namespace {

struct StatusCase {
    Entry entry;
    const char* operation;
    HRESULT status;
    const char* line;  // the report line; null when the call goes on to succeed
    bool aborts;
    bool deletes;
};

const StatusCase kStatuses[] = {
    {Entry::kStartBackup, "GatherWriterMetadata", VSS_S_ASYNC_CANCELLED,
     "GatherWriterMetadata was cancelled.", true, false},
    {Entry::kStartBackup2, "GatherWriterMetadata", VSS_S_ASYNC_CANCELLED,
     "GatherWriterMetadata was cancelled.", true, false},
    {Entry::kStartBackup, "GatherWriterMetadata", E_FAIL, nullptr, false, false},
    {Entry::kStartBackup2, "GatherWriterMetadata", VSS_S_ASYNC_PENDING, nullptr, false, false},
    {Entry::kStartBackup, "PrepareForBackup", VSS_S_ASYNC_CANCELLED, "Prepare for backup failed.",
     true, false},
    {Entry::kStartBackup2, "PrepareForBackup", E_FAIL, "Prepare for backup failed.", true, false},
    {Entry::kStartBackup, "DoSnapshotSet", VSS_S_ASYNC_PENDING, "DoSnapshotSet failed.", true,
     true},
    {Entry::kStartBackup2, "DoSnapshotSet", VSS_S_ASYNC_CANCELLED, "DoSnapshotSet failed.", true,
     true},
    {Entry::kNoWriter, "DoSnapshotSet", E_FAIL, "DoSnapshotSet failed.", true, true},
    {Entry::kComplete, "BackupComplete", VSS_S_ASYNC_CANCELLED, "Completion of backup failed.",
     false, true},
    {Entry::kComplete, "BackupComplete", E_FAIL, "Completion of backup failed.", false, true},
};

void PrintTo(const StatusCase& c, std::ostream* out) { *out << c.operation << " " << c.status; }

class StatusTest : public WorkflowTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusTest, OnlyFinishedOperationsLetTheCallGoOn) {
    const StatusCase& c = GetParam();
    requester.SetStatus(c.operation, c.status);
    g_traceLevel = 2;
    const int result = Run(c.entry);
    if (c.line == nullptr) {
        EXPECT_EQ(QUORLIN_RESULT_OK, result);
        EXPECT_TRUE(Lines().empty());
        return;
    }
    EXPECT_EQ(QUORLIN_RESULT_FAILED, result);
    EXPECT_EQ(std::vector<std::string>{c.line}, Lines());
    std::vector<std::string> cleanup;
    if (c.aborts)
        cleanup.push_back("AbortBackup()");
    if (c.deletes)
        cleanup.push_back("DeleteSnapshots(set1,2,1)");
    EXPECT_EQ(cleanup, CallsAfter(std::string(c.operation) + ".QueryStatus"));
    EXPECT_EQ(c.entry == Entry::kComplete, agent.State().holdsComponents);  // Ended
    EXPECT_EQ(0, agent.State().backupInProgress);
}

INSTANTIATE_TEST_SUITE_P(Table, StatusTest, ::testing::ValuesIn(kStatuses));

struct SuccessCodeCase {
    Entry entry;
    const char* call;
    HRESULT code;
    const char* line;
};

const SuccessCodeCase kSuccessCodes[] = {
    {Entry::kComplete, "BackupComplete", S_FALSE,
     "There was a COM failure 0x1 - .\\QuorlinClass (691)"},
    {Entry::kStartBackup, "InitializeForBackup", S_FALSE,
     "There was a COM failure 0x1 - .\\QuorlinClass (328)"},
    {Entry::kStartBackup2, "PrepareForBackup.Wait", VSS_S_ASYNC_FINISHED,
     "There was a COM failure 0x4230a - .\\QuorlinClass (1128)"},
    {Entry::kNoWriter, "SetContext", E_UNEXPECTED,
     "There was a COM failure 0x8000ffff - .\\QuorlinClass (152)"},
};

void PrintTo(const SuccessCodeCase& c, std::ostream* out) { *out << c.call; }

class SuccessCodeTest : public WorkflowTest,
                        public ::testing::WithParamInterface<SuccessCodeCase> {};

TEST_P(SuccessCodeTest, AnythingButSOkAtACallSiteFails) {
    const SuccessCodeCase& c = GetParam();
    requester.Fail(c.call, c.code);
    g_traceLevel = 2;
    EXPECT_EQ(QUORLIN_RESULT_FAILED, Run(c.entry));
    EXPECT_EQ(std::vector<std::string>{c.line}, Lines());
}

INSTANTIATE_TEST_SUITE_P(Table, SuccessCodeTest, ::testing::ValuesIn(kSuccessCodes));

}  // namespace
}  // namespace testing
}  // namespace quorlin
