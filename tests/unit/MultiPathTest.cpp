// VssStartBackup2: one snapshot per distinct volume, one output per path.
#include "WorkflowFixture.h"

#include <algorithm>

namespace quorlin {
namespace testing {
namespace {

class MultiPathTest : public WorkflowTest {
protected:
    // Each m_volumes entry as "<volume path> <snapshot>".
    std::vector<std::string> Entries() const {
        std::vector<std::string> entries;
        for (const _Snapshot_Volume& v : agent.Volumes()) {
            std::string text;
            for (const wchar_t* c = v.volumePath; *c; ++c)
                text += static_cast<char>(*c);
            entries.push_back(text + " " + IdText(v.snapshotId));
        }
        return entries;
    }
};

TEST_F(MultiPathTest, PathsOnOneVolumeShareItsSnapshot) {
    PathArrays paths{L"E:\\data", L"E:\\logs\\app.txt"};
    EXPECT_EQ(QUORLIN_RESULT_OK, StartBackup2(paths));

    const std::vector<std::string> lines = {"Calling CreateVssBackupComponents",
                                            "Calling InitializeForBackup",
                                            "Calling GatherWriterMetadata",
                                            "Waiting for writer metadata",
                                            "Calling QueryStatus for GatherWriterMetadata",
                                            "Calling StartSnapshotSet",
                                            "Calling GetVolumePathName",
                                            "Calling AddToSnapshotSet",
                                            "Calling SetBackupState",
                                            "Calling PrepareForBackup",
                                            "Calling DoSnapshotSet",
                                            "Calling GetSnapshotProperties",
                                            "Calling CalculateSourcePath",
                                            "Calling CalculateSourcePath"};
    EXPECT_EQ(lines, Lines());
    EXPECT_TRUE(host.debugOutput.empty() || host.debugOutput[0] != L"VssStartBackup entry\n");
    EXPECT_EQ(1u, requester.CallsNamed("AddToSnapshotSet").size());
    const std::vector<std::string> properties = {"GetSnapshotProperties(snap1)",
                                                 "GetSnapshotProperties(snap1)"};
    EXPECT_EQ(properties, requester.CallsNamed("GetSnapshotProperties"));
    const std::vector<std::string> entries = {Native("E:\\") + " snap1", Native("E:\\") + " snap1"};
    EXPECT_EQ(entries, Entries());
    EXPECT_EQ(Native(L"F\\data"), paths.Output(0));
    EXPECT_EQ(Native(L"F\\logs\\app.txt"), paths.Output(1));
    const AgentState held = {SetId(1), true, false, 1, true};
    EXPECT_TRUE(held == agent.State());
    EXPECT_EQ(0, requester.LiveAsyncObjects());
}

TEST_F(MultiPathTest, EachVolumeIsAddedOnceAtItsFirstPath) {
    PathArrays paths{L"C:\\a", L"E:\\b", L"C:\\c"};
    EXPECT_EQ(QUORLIN_RESULT_OK, StartBackup2(paths));
    const std::vector<std::string> added = {"AddToSnapshotSet(" + Native("C:\\") + ",null)",
                                            "AddToSnapshotSet(" + Native("E:\\") + ",null)"};
    EXPECT_EQ(added, requester.CallsNamed("AddToSnapshotSet"));
    const std::vector<std::string> entries = {Native("C:\\") + " snap1", Native("E:\\") + " snap2",
                                              Native("C:\\") + " snap1"};
    EXPECT_EQ(entries, Entries());
    EXPECT_EQ(Native(L"D\\a"), paths.Output(0));
    EXPECT_EQ(Native(L"F\\b"), paths.Output(1));
    EXPECT_EQ(Native(L"D\\c"), paths.Output(2));
}

TEST_F(MultiPathTest, VolumesDifferingInCaseAreTwoVolumes) {
    host.volumeRoots[Native(L"e:\\")] = Native(L"e:\\");
    PathArrays paths{L"E:\\a", L"e:\\b"};
    EXPECT_EQ(QUORLIN_RESULT_OK, StartBackup2(paths));
    const std::vector<std::string> entries = {Native("E:\\") + " snap1", Native("e:\\") + " snap2"};
    EXPECT_EQ(entries, Entries());

    // A refusal of the second fails the whole call.
    Agent other;
    requester.Fail("AddToSnapshotSet", E_FAIL, 4);
    g_traceLevel = 2;
    host.consoleBytes.clear();
    EXPECT_EQ(QUORLIN_RESULT_FAILED,
              other.VssStartBackup2(paths.Sources(), paths.Outputs(), paths.Count()));
    EXPECT_EQ(
        std::vector<std::string>{"There was a COM failure 0x80004005 - .\\QuorlinClass (1076)"},
        Lines());
}

// The index gives what a search of the entries from the first one gives.
TEST_F(MultiPathTest, SameEntriesAsASearchFromTheFirstEntry) {
    host.volumeRoots[Native(L"e:\\")] = Native(L"e:\\");
    host.volumeRoots[Native(L"E:\\Mnt\\")] = Native(L"E:\\Mnt\\");
    const wchar_t* roots[] = {L"C:\\", L"E:\\", L"e:\\", L"E:\\Mnt\\"};
    PathArrays paths{};
    for (int i = 0; i < 60; ++i)
        paths.Add(std::wstring(roots[(i * 7 + i / 5) % 4]) + L"f" + std::to_wstring(i));
    ASSERT_EQ(QUORLIN_RESULT_OK, StartBackup2(paths));

    std::vector<std::pair<std::wstring, int>> model;  // volume, snapshot number
    int added = 0;
    for (const std::wstring& source : paths.sources) {
        std::wstring root;
        for (const auto& r : host.volumeRoots)
            if (source.compare(0, r.first.size(), r.first) == 0 && r.first.size() > root.size())
                root = r.first;
        int snapshot = 0;
        for (const auto& entry : model)
            if (entry.first == root) {
                snapshot = entry.second;
                break;
            }
        model.push_back({root, snapshot ? snapshot : ++added});
    }
    ASSERT_EQ(model.size(), agent.Volumes().size());
    for (size_t i = 0; i < model.size(); ++i) {
        EXPECT_EQ(model[i].first, agent.Volumes()[i].volumePath) << i;
        EXPECT_EQ(SnapshotId(model[i].second), agent.Volumes()[i].snapshotId) << i;
    }
    EXPECT_EQ(4, added);
}

TEST_F(MultiPathTest, NoPathsStillTakesAnEmptySet) {
    for (int count : {0, -1}) {
        requester.ClearCalls();
        host.consoleBytes.clear();
        host.volumeLookups.clear();
        Agent other;
        PathArrays paths{L"C:\\a"};
        EXPECT_EQ(QUORLIN_RESULT_OK,
                  other.VssStartBackup2(paths.Sources(), paths.Outputs(), count));
        const std::vector<std::string> lines = Lines();
        EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), "Calling GetVolumePathName"));
        EXPECT_TRUE(host.volumeLookups.empty());
        EXPECT_TRUE(requester.CallsNamed("AddToSnapshotSet").empty());
        EXPECT_TRUE(requester.CallsNamed("GetSnapshotProperties").empty());
        EXPECT_EQ(1u, requester.CallsNamed("DoSnapshotSet()").size());
        EXPECT_TRUE(other.Volumes().empty());
        EXPECT_TRUE(paths.Untouched(0));
    }
}

TEST_F(MultiPathTest, AFailureAtPathJLeavesTheEarlierBuffersWritten) {
    PathArrays paths{L"C:\\a", L"E:\\b", L"C:\\c"};
    requester.Fail("GetSnapshotProperties", E_FAIL, 2);
    EXPECT_EQ(QUORLIN_RESULT_FAILED, StartBackup2(paths));
    EXPECT_EQ(Native(L"D\\a"), paths.Output(0));
    EXPECT_TRUE(paths.Untouched(1));
    EXPECT_TRUE(paths.Untouched(2));
    const std::vector<std::string> cleanup = {"AbortBackup()", "DeleteSnapshots(set1,2,1)"};
    EXPECT_EQ(cleanup, CallsAfter("GetSnapshotProperties(snap2)"));
}

TEST_F(MultiPathTest, AFailedLookupStopsAtThatPath) {
    host.systemMessages[2] = L"The system cannot find the file specified.";
    PathArrays paths{L"C:\\a", L"Q:\\b", L"E:\\c"};
    g_traceLevel = 2;
    EXPECT_EQ(QUORLIN_RESULT_FAILED, StartBackup2(paths));
    const std::string message =
        "There was an error retrieving the volume name from the path. Path: " + Native("Q:\\b") +
        " Error: The system cannot find the file specified. (Error number 2)";
    EXPECT_EQ(std::vector<std::string>{message}, Lines());
    EXPECT_EQ(2u, host.volumeLookups.size());
    EXPECT_EQ(std::vector<std::string>{"AbortBackup()"}, CallsAfter("AddToSnapshotSet"));
    for (size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(paths.Untouched(i)) << i;
    EXPECT_EQ(std::vector<std::string>{Native("C:\\") + " snap1"}, Entries());

    // The next call starts from an empty list.
    PathArrays next{L"E:\\x"};
    EXPECT_EQ(QUORLIN_RESULT_OK, StartBackup2(next));
    EXPECT_EQ(std::vector<std::string>{Native("E:\\") + " snap2"}, Entries());
}

// The lookups of one call share one session of the host, closed however the call ends.
TEST_F(MultiPathTest, TheLookupsOfACallShareOneHostSession) {
    const struct {
        const char* what;
        const wchar_t* second;  // the second path
        bool addFails;
        size_t lookups;
    } cases[] = {{"success", L"E:\\b", false, 3},
                 {"a failed lookup", L"Q:\\b", false, 2},
                 {"a failed AddToSnapshotSet", L"E:\\b", true, 2}};
    for (const auto& c : cases) {
        host.lookupSessions = 0;
        host.lookupsInSessions = 0;
        if (c.addFails)  // the call's second one
            requester.Fail("AddToSnapshotSet", E_FAIL,
                           static_cast<int>(requester.CallsNamed("AddToSnapshotSet").size()) + 2);
        PathArrays paths{L"C:\\a", c.second, L"C:\\c"};
        Agent other;
        other.VssStartBackup2(paths.Sources(), paths.Outputs(), paths.Count());
        EXPECT_EQ(1, host.lookupSessions) << c.what;
        EXPECT_EQ(0, host.openLookupSessions) << c.what;
        EXPECT_EQ(static_cast<int>(c.lookups), host.lookupsInSessions) << c.what;
    }
}

// The records that the call fills (a MAX_PATH buffer each) are announced as one block.
TEST_F(MultiPathTest, TheRecordsAreAnnouncedAsOneBulkWrite) {
    PathArrays paths{L"C:\\a", L"E:\\b", L"C:\\c"};
    ASSERT_EQ(QUORLIN_RESULT_OK, StartBackup2(paths));
    ASSERT_EQ(1u, host.bulkWrites.size());
    EXPECT_EQ(static_cast<const void*>(agent.Volumes().data()), host.bulkWrites[0].first);
    EXPECT_EQ(3 * sizeof(_Snapshot_Volume), host.bulkWrites[0].second);
}

TEST_F(MultiPathTest, RelativePathsAreMadeAbsoluteFirst) {
    host.fullPaths[Native(L"logs\\app.txt")] = Native(L"E:\\srv\\logs\\app.txt");
    PathArrays paths{L"logs\\app.txt", L"C:\\a"};
    EXPECT_EQ(QUORLIN_RESULT_OK, StartBackup2(paths));
    const std::vector<std::wstring> lookups = {Native(L"E:\\srv\\logs\\app.txt"), Native(L"C:\\a")};
    EXPECT_EQ(lookups, host.volumeLookups);
    EXPECT_EQ(Native(L"F\\srv\\logs\\app.txt"), paths.Output(0));
}

// Missing arrays or elements within the count are refused before anything is done.
TEST_F(MultiPathTest, MissingArgumentsAreRefused) {
    PathArrays previous{L"C:\\a"};
    ASSERT_EQ(QUORLIN_RESULT_OK, StartBackup2(previous));
    const AgentState held = agent.State();
    requester.ClearCalls();

    PathArrays paths{L"C:\\a", L"E:\\b"};
    const struct {
        const char* what;
        bool sourceArray;
        bool outputArray;
        int missingSource;  // index set to null, or -1
        int missingOutput;
    } cases[] = {{"no source array", false, true, -1, -1},
                 {"no output array", true, false, -1, -1},
                 {"no first source", true, true, 0, -1},
                 {"no second output", true, true, -1, 1}};
    for (const auto& c : cases) {
        std::vector<wchar_t*> sources(paths.Sources(), paths.Sources() + 2);
        std::vector<wchar_t*> outputs(paths.Outputs(), paths.Outputs() + 2);
        if (c.missingSource >= 0)
            sources[c.missingSource] = nullptr;
        if (c.missingOutput >= 0)
            outputs[c.missingOutput] = nullptr;
        host.consoleBytes.clear();
        const int result = agent.VssStartBackup2(c.sourceArray ? sources.data() : nullptr,
                                                 c.outputArray ? outputs.data() : nullptr, 2);
        EXPECT_EQ(QUORLIN_RESULT_REFUSED, result) << c.what;
        EXPECT_EQ(std::vector<std::string>{"Invalid parameter."}, Lines()) << c.what;
    }
    EXPECT_TRUE(requester.Calls().empty());
    EXPECT_EQ(1, host.comSecurityCalls);
    EXPECT_TRUE(held == agent.State());
    EXPECT_EQ(1u, agent.Volumes().size());

    // Elements past the count are not looked at.
    std::vector<wchar_t*> outputs(paths.Outputs(), paths.Outputs() + 2);
    outputs[1] = nullptr;
    EXPECT_EQ(QUORLIN_RESULT_OK, agent.VssStartBackup2(paths.Sources(), outputs.data(), 1));
}

TEST_F(MultiPathTest, RunsWithoutThePlatformCheck) {
    host.versionAvailable = true;
    host.majorVersion = 5;
    host.architecture = 9;  // 64-bit, not R2: refused by the other entry points
    PathArrays paths{L"C:\\a"};
    EXPECT_EQ(QUORLIN_RESULT_OK, StartBackup2(paths));
    const std::vector<std::string> lines = Lines();
    EXPECT_EQ(lines.end(), std::find(lines.begin(), lines.end(), "Not support xp 64."));
}

TEST_F(MultiPathTest, AHeldBackupIsReplacedAfterTheWarning) {
    PathArrays paths{L"C:\\a"};
    ASSERT_EQ(QUORLIN_RESULT_OK, StartBackup2(paths));
    host.consoleBytes.clear();
    EXPECT_EQ(QUORLIN_RESULT_OK, StartBackup2(paths));
    EXPECT_EQ("Wrong calling sequence, call VssCompleteBackup first.", Lines().front());
    EXPECT_EQ(SetId(2), agent.State().snapshotSetId);
    EXPECT_EQ(2, requester.CreatedObjects());
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
