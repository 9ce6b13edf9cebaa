// VssStartBackup and VssStartBackupNoWriter: the steps in order, the outputs,
// the backup type, and the volume lookup of the absolute path.
#include "WorkflowFixture.h"

#include <functional>

namespace quorlin {
namespace testing {
namespace {

class SinglePathTest : public WorkflowTest {
protected:
    // The snapshot of C:\Data\report.doc is held and its path written.
    void ExpectReportHeld() {
        EXPECT_EQ(Native(L"D\\Data\\report.doc"), Output());
        EXPECT_EQ(17, outputLength);
        const AgentState held = {SetId(1), true, false, 1, true};
        EXPECT_TRUE(held == agent.State());
        EXPECT_EQ(1u, requester.References());
        EXPECT_EQ(0, requester.LiveAsyncObjects());
    }
};

// The calls of one waited-for operation: started, waited for, its status queried.
std::vector<std::string> Operation(const std::string& name) {
    return {name + "()", name + ".Wait(4294967295)", name + ".QueryStatus()"};
}

// The lists joined in order.
std::vector<std::string> Joined(std::initializer_list<std::vector<std::string>> lists) {
    std::vector<std::string> joined;
    for (const std::vector<std::string>& list : lists)
        joined.insert(joined.end(), list.begin(), list.end());
    return joined;
}

TEST_F(SinglePathTest, StartBackupTakesTheSnapshotWithWriters) {
    EXPECT_EQ(QUORLIN_RESULT_OK, StartBackup(L"C:\\Data\\report.doc"));

    const std::vector<std::string> lines = {"Calling CreateVssBackupComponents",
                                            "Calling InitializeForBackup",
                                            "Calling GatherWriterMetadata",
                                            "Waiting for writer metadata",
                                            "Calling QueryStatus for GatherWriterMetadata",
                                            "Calling GetWriterMetadataCount",
                                            "Calling StartSnapshotSet",
                                            "Calling GetVolumePathName",
                                            "Calling AddToSnapshotSet",
                                            "Calling SetBackupState",
                                            "Calling PrepareForBackup",
                                            "Calling DoSnapshotSet",
                                            "Calling GetSnapshotProperties",
                                            "Calling CalculateSourcePath"};
    EXPECT_EQ(lines, Lines());
    const std::string added = "AddToSnapshotSet(" + Native("C:\\") + ",null)";
    const std::vector<std::string> calls =
        Joined({{"CreateVssBackupComponents()", "InitializeForBackup(null)"},
                Operation("GatherWriterMetadata"),
                {"StartSnapshotSet()", added, "SetBackupState(1,0,1,0)"},
                Operation("PrepareForBackup"),
                Operation("DoSnapshotSet"),
                {"GetSnapshotProperties(snap1)"}});
    EXPECT_EQ(calls, requester.Calls());

    ExpectReportHeld();
    EXPECT_TRUE(agent.WithWriters());
}

// What a host reads of the agent through its public calls follows its fields.
TEST_F(SinglePathTest, ThePublicCallsTellTheHeldBackupAndItsSet) {
    struct Step {
        const char* after;
        std::function<int()> call;  // null: none
        bool held;
        VSS_ID setId;
    };
    const Step steps[] = {
        {"construction", nullptr, false, GUID_NULL},
        {"a start", [&] { return StartBackup(L"C:\\Data\\report.doc"); }, true, SetId(1)},
        {"completion", [&] { return agent.VssBackupComplete(); }, false, SetId(1)}};
    for (const Step& step : steps) {
        if (step.call) {
            ASSERT_EQ(QUORLIN_RESULT_OK, step.call()) << step.after;
        }
        EXPECT_EQ(step.held, agent.BackupHeld()) << step.after;
        EXPECT_EQ(step.held, agent.State().backupInProgress != 0) << step.after;
        EXPECT_TRUE(step.setId == agent.SnapshotSetId()) << step.after;
    }
}

TEST_F(SinglePathTest, NoWriterTakesAPersistentSnapshotWithoutWriters) {
    agent.VssSetting(0, 2);
    EXPECT_EQ(QUORLIN_RESULT_OK, StartBackupNoWriter(L"C:\\Data\\report.doc"));

    const std::vector<std::string> lines = {"Calling CreateVssBackupComponents",
                                            "Calling InitializeForBackup",
                                            "Calling SetBackupState",
                                            "Calling StartSnapshotSet",
                                            "Calling GetVolumePathName",
                                            "Calling AddToSnapshotSet",
                                            "Calling DoSnapshotSet",
                                            "Calling GetSnapshotProperties",
                                            "Calling CalculateSourcePath"};
    EXPECT_EQ(lines, Lines());
    const std::string added = "AddToSnapshotSet(" + Native("C:\\") + ",null)";
    const std::vector<std::string> calls =
        Joined({{"CreateVssBackupComponents()", "InitializeForBackup(null)", "SetContext(25)",
                 "SetBackupState(1,1,2,0)", "StartSnapshotSet()", added},
                Operation("DoSnapshotSet"),
                {"GetSnapshotProperties(snap1)"}});
    EXPECT_EQ(calls, requester.Calls());

    ExpectReportHeld();
    EXPECT_FALSE(agent.WithWriters());
}

TEST_F(SinglePathTest, OnlyOutcomeLinesAndTheEntryMarkerAtVerbosity2) {
    g_traceLevel = 2;
    EXPECT_EQ(QUORLIN_RESULT_OK, StartBackup(L"C:\\Data\\report.doc"));
    agent.VssBackupComplete();
    EXPECT_EQ(QUORLIN_RESULT_OK, StartBackupNoWriter(L"C:\\Data\\report.doc"));
    PathArrays paths{L"C:\\a"};
    // No entry marker; the held persistent set is completed first.
    EXPECT_EQ(QUORLIN_RESULT_OK, StartBackup2(paths));
    const std::vector<std::wstring> debug = {
        L"VssStartBackup entry\n", L"Backup successfully completed.", L"\r\n",
        L"VssStartBackup entry\n", L"Backup successfully completed.", L"\r\n"};
    EXPECT_EQ(debug, host.debugOutput);
    const std::vector<std::string> lines(2, "Backup successfully completed.");
    EXPECT_EQ(lines, Lines());
}

TEST_F(SinglePathTest, WarningsPrecedeTheStepsAndTheCallGoesOn) {
    ASSERT_EQ(QUORLIN_RESULT_OK, StartBackup(L"C:\\a"));
    host.consoleBytes.clear();
    host.keyOpen = Host::KeyOpen::kOpened;  // no filter list yet
    host.comSecurityResult = static_cast<HRESULT>(0x80010119);
    host.adjustLastError = 1300;

    EXPECT_EQ(QUORLIN_RESULT_OK, StartBackup(L"C:\\a"));
    const std::vector<std::string> lines = Lines();
    const std::vector<std::string> warnings = {
        "Wrong calling sequence, call VssCompleteBackup first.",
        "Volsnap not properly set at "
        "SYSTEM\\CurrentControlSet\\Control\\Class\\{71A27CDD-812A-11D0-BEC7-08002BE2092F}"
        "\\UpperFilters.",
        "CoInitializeSecurity result failure , rc = 80010119\n",
        "AssertPrivilege returned error, rc:1300\n", "Calling CreateVssBackupComponents"};
    ASSERT_GE(lines.size(), warnings.size());
    EXPECT_EQ(warnings, std::vector<std::string>(lines.begin(), lines.begin() + 5));
    EXPECT_EQ(SetId(2), agent.State().snapshotSetId);
}

TEST_F(SinglePathTest, WithoutAnOutputBufferTheLengthIsStillWritten) {
    std::wstring source = Native(L"C:\\Data\\report.doc");
    for (bool withWriters : {true, false}) {
        Agent other;
        int length = -1;
        const int result = withWriters ? other.VssStartBackup(&source[0], nullptr, length)
                                       : other.VssStartBackupNoWriter(&source[0], nullptr, length);
        EXPECT_EQ(QUORLIN_RESULT_OK, result);
        EXPECT_EQ(17, length);
        EXPECT_EQ(1, other.State().backupInProgress);
    }
}

TEST_F(SinglePathTest, BackupTypeTwoAloneIsIncremental) {
    const struct {
        int setting;
        int type;
    } cases[] = {{2, 2}, {1, 1}, {0, 1}, {3, 1}, {-1, 1}};
    for (const auto& c : cases) {
        for (bool withWriters : {true, false}) {
            Agent other;
            other.VssSetting(0, c.setting);
            std::wstring source = Native(L"C:\\x");
            int length = 0;
            if (withWriters)
                other.VssStartBackup(&source[0], nullptr, length);
            else
                other.VssStartBackupNoWriter(&source[0], nullptr, length);
            const std::string expected = "SetBackupState(1," + std::to_string(!withWriters) + "," +
                                         std::to_string(c.type) + ",0)";
            EXPECT_EQ(expected, requester.CallsNamed("SetBackupState").back()) << c.setting;
        }
    }
}

// The volume lookup and the translation both use the absolute form of the path.
struct FullPathCase {
    const wchar_t* given;
    const wchar_t* full;  // what the platform makes of it
    const wchar_t* snapshotPath;
};

const FullPathCase kFullPaths[] = {
    {L"Data\\report.doc", L"C:\\work\\Data\\report.doc", L"D\\work\\Data\\report.doc"},
    {L"..\\E\\x", L"E:\\x", L"F\\x"},
    {L"c:\\data", L"c:\\data", L"D\\data"},  // absolute: unchanged, the prefix's case is kept
    {L"C:\\", L"C:\\", L"D\\"},
};

TEST_F(SinglePathTest, TheAbsolutePathIsLookedUpAndTranslated) {
    host.volumeRoots[Native(L"c:\\")] = Native(L"C:\\");
    for (const FullPathCase& c : kFullPaths) {
        for (bool withWriters : {true, false}) {
            Agent other;
            host.fullPaths[Native(c.given)] = Native(c.full);
            host.volumeLookups.clear();
            std::wstring source = Native(c.given);
            std::wstring out(64, L'#');
            int length = 0;
            const int result = withWriters
                                   ? other.VssStartBackup(&source[0], &out[0], length)
                                   : other.VssStartBackupNoWriter(&source[0], &out[0], length);
            EXPECT_EQ(QUORLIN_RESULT_OK, result);
            EXPECT_EQ(std::vector<std::wstring>{Native(c.full)}, host.volumeLookups);
            EXPECT_EQ(Native(c.snapshotPath), std::wstring(out.c_str()));
            EXPECT_EQ(static_cast<int>(std::wcslen(c.snapshotPath)), length);
        }
    }
}

// A path whose volume cannot be found (no volume, or no absolute form) fails after
// the set was started: aborted, nothing deleted, the message names the path as given.
TEST_F(SinglePathTest, AFailedVolumeLookupNamesThePathAsGiven) {
    host.systemMessages[3] = L"The system cannot find the path specified.";
    host.volumeError = 3;
    host.fullPathErrors[Native(L"bad\\path")] = 3;
    for (const wchar_t* path : {L"Q:\\x", L"bad\\path"}) {
        for (bool withWriters : {true, false}) {
            host.consoleBytes.clear();
            requester.ClearCalls();
            g_traceLevel = 2;
            const int result = withWriters ? StartBackup(path) : StartBackupNoWriter(path);
            EXPECT_EQ(QUORLIN_RESULT_FAILED, result);
            const std::string message =
                "There was an error retrieving the volume name from the path. Path: " +
                Native(std::string(path, path + std::wcslen(path))) +
                " Error: The system cannot find the path specified. (Error number 3)";
            EXPECT_EQ(std::vector<std::string>{message}, Lines());
            EXPECT_EQ(std::vector<std::string>{"AbortBackup()"}, CallsAfter("StartSnapshotSet"));
            EXPECT_EQ(-7, outputLength);
        }
    }
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
