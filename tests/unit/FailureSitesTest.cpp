// Every failure site of every entry point, injected in turn: result 1, the report
// line with its code and site, the clean-up calls in order, outputs untouched; a
// failed start holds nothing afterwards (its set is gone, or was never made), a
// failed completion leaves the agent Ended. One table per entry point.
#include "WorkflowFixture.h"

namespace quorlin {
namespace testing {
namespace {

struct FailureSite {
    const char* call;  // the scripted call that fails
    int site;
    bool setStarted;  // StartSnapshotSet has run before it
    bool setExists;   // DoSnapshotSet has started before it
};

void PrintTo(const FailureSite& row, std::ostream* out) { *out << row.call << " " << row.site; }

std::string SiteName(const ::testing::TestParamInfo<FailureSite>& info) {
    std::string name = info.param.call;
    for (char& c : name)
        if (c == '.')
            c = '_';
    return name;
}

const FailureSite kStartBackupSites[] = {
    {"CreateVssBackupComponents", 325, false, false},
    {"InitializeForBackup", 328, false, false},
    {"GatherWriterMetadata", 333, false, false},
    {"GatherWriterMetadata.Wait", 336, false, false},
    {"GatherWriterMetadata.QueryStatus", 340, false, false},
    {"StartSnapshotSet", 486, false, false},
    {"AddToSnapshotSet", 505, true, false},
    {"SetBackupState", 549, true, false},
    {"PrepareForBackup", 553, true, false},
    {"PrepareForBackup.Wait", 555, true, false},
    {"PrepareForBackup.QueryStatus", 558, true, false},
    {"DoSnapshotSet", 570, true, false},
    {"DoSnapshotSet.Wait", 572, true, true},
    {"DoSnapshotSet.QueryStatus", 577, true, true},
    {"GetSnapshotProperties", 586, true, true},
};

const FailureSite kStartBackup2Sites[] = {
    {"CreateVssBackupComponents", 882, false, false},
    {"InitializeForBackup", 885, false, false},
    {"GatherWriterMetadata", 890, false, false},
    {"GatherWriterMetadata.Wait", 893, false, false},
    {"GatherWriterMetadata.QueryStatus", 897, false, false},
    {"StartSnapshotSet", 1044, false, false},
    {"AddToSnapshotSet", 1076, true, false},
    {"SetBackupState", 1122, true, false},
    {"PrepareForBackup", 1126, true, false},
    {"PrepareForBackup.Wait", 1128, true, false},
    {"PrepareForBackup.QueryStatus", 1131, true, false},
    {"DoSnapshotSet", 1143, true, false},
    {"DoSnapshotSet.Wait", 1145, true, true},
    {"DoSnapshotSet.QueryStatus", 1150, true, true},
    {"GetSnapshotProperties", 1174, true, true},
};

const FailureSite kNoWriterSites[] = {
    {"CreateVssBackupComponents", 145, false, false},
    {"InitializeForBackup", 148, false, false},
    {"SetContext", 152, false, false},
    {"SetBackupState", 157, false, false},
    {"StartSnapshotSet", 160, false, false},
    {"AddToSnapshotSet", 179, true, false},
    {"DoSnapshotSet", 187, true, false},
    {"DoSnapshotSet.Wait", 189, true, true},
    {"DoSnapshotSet.QueryStatus", 194, true, true},
    {"GetSnapshotProperties", 203, true, true},
};

const FailureSite kCompleteSites[] = {
    {"BackupComplete", 691, true, true},
    {"BackupComplete.Wait", 693, true, true},
    {"BackupComplete.QueryStatus", 696, true, true},
};

class SiteTest : public WorkflowTest, public ::testing::WithParamInterface<FailureSite> {
protected:
    // Fails the row's call with E_FAIL and checks what every start call shares.
    void ExpectCapturedStart(int result) {
        const FailureSite& row = GetParam();
        const bool created = std::string(row.call) != "CreateVssBackupComponents";
        EXPECT_EQ(QUORLIN_RESULT_FAILED, result);
        EXPECT_EQ(std::vector<std::string>{ReportLine(row.site)}, Lines());
        std::vector<std::string> cleanup;
        if (created)
            cleanup.push_back("AbortBackup()");
        if (row.setExists)
            cleanup.push_back("DeleteSnapshots(set1,2,1)");
        EXPECT_EQ(cleanup, CallsAfter(row.call));
        const AgentState aborted = {row.setStarted ? SetId(1) : GUID_NULL, row.setExists, true, 0,
                                    false};
        EXPECT_TRUE(aborted == agent.State());
        EXPECT_EQ(0u, requester.References());
        EXPECT_EQ(0, requester.LiveAsyncObjects());
    }

    static std::string ReportLine(int site) {
        return "There was a COM failure 0x80004005 - .\\QuorlinClass (" + std::to_string(site) +
               ")";
    }

    void SetUp() override {
        g_traceLevel = 2;
        requester.Fail(GetParam().call, E_FAIL);
    }
};

using StartBackupSites = SiteTest;
using StartBackup2Sites = SiteTest;
using NoWriterSites = SiteTest;
using CompleteSites = SiteTest;

TEST_P(StartBackupSites, CapturedAndCleanedUp) {
    ExpectCapturedStart(StartBackup(L"C:\\Data\\report.doc"));
    EXPECT_EQ(std::wstring(64, L'#'), output);
    EXPECT_EQ(-7, outputLength);
}

TEST_P(NoWriterSites, CapturedAndCleanedUp) {
    ExpectCapturedStart(StartBackupNoWriter(L"C:\\Data\\report.doc"));
    EXPECT_EQ(std::wstring(64, L'#'), output);
    EXPECT_EQ(-7, outputLength);
}

TEST_P(StartBackup2Sites, CapturedAndCleanedUp) {
    std::wstring first = Native(L"C:\\a"), second = Native(L"E:\\b");
    std::wstring out1(32, L'#'), out2(32, L'#');
    wchar_t* sources[] = {&first[0], &second[0]};
    wchar_t* outputs[] = {&out1[0], &out2[0]};
    ExpectCapturedStart(agent.VssStartBackup2(sources, outputs, 2));
    EXPECT_EQ(std::wstring(32, L'#'), out1);
    EXPECT_EQ(std::wstring(32, L'#'), out2);
}

TEST_P(CompleteSites, CapturedDeletesWithoutAborting) {
    ASSERT_EQ(QUORLIN_RESULT_OK, StartBackup(L"C:\\Data\\report.doc"));
    EXPECT_EQ(QUORLIN_RESULT_FAILED, agent.VssBackupComplete());
    EXPECT_EQ(std::vector<std::string>{ReportLine(GetParam().site)}, Lines());
    EXPECT_EQ(std::vector<std::string>{"DeleteSnapshots(set1,2,1)"}, CallsAfter(GetParam().call));
    const AgentState ended = {SetId(1), true, false, 0, true};
    EXPECT_TRUE(ended == agent.State());
    EXPECT_EQ(1u, requester.References());
    EXPECT_EQ(0, requester.LiveAsyncObjects());
}

INSTANTIATE_TEST_SUITE_P(Table, StartBackupSites, ::testing::ValuesIn(kStartBackupSites), SiteName);
INSTANTIATE_TEST_SUITE_P(Table, StartBackup2Sites, ::testing::ValuesIn(kStartBackup2Sites),
                         SiteName);
INSTANTIATE_TEST_SUITE_P(Table, NoWriterSites, ::testing::ValuesIn(kNoWriterSites), SiteName);
INSTANTIATE_TEST_SUITE_P(Table, CompleteSites, ::testing::ValuesIn(kCompleteSites), SiteName);

using CreationTest = WorkflowTest;

// A failed creation that still hands out an object has that object aborted.
TEST_F(CreationTest, FailedCreationWithAnObjectIsAborted) {
    requester.Fail("CreateVssBackupComponents", E_FAIL);
    requester.createFailureGivesObject = true;
    EXPECT_EQ(QUORLIN_RESULT_FAILED, StartBackup(L"C:\\Data\\report.doc"));
    EXPECT_EQ(std::vector<std::string>{"AbortBackup()"}, CallsAfter("CreateVssBackupComponents"));
    EXPECT_EQ(0, agent.State().backupInProgress);
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
