// What the start calls hand the host as the snapshot path: never a relative path,
// never more than the room that Quorlin.h promises.
#include "WorkflowFixture.h"

namespace quorlin {
namespace testing {
namespace {

using SnapshotPathOutputTest = WorkflowTest;

struct StartCall {
    Entry entry;
    int propertiesSite;
};

const StartCall kStartCalls[] = {
    {Entry::kStartBackup, 586}, {Entry::kStartBackup2, 1174}, {Entry::kNoWriter, 203}};

// A snapshot whose device name is empty would give the path below the volume root
// alone, read in the host's working directory: it fails at the properties site.
TEST_F(SnapshotPathOutputTest, AnEmptyDeviceNameFailsAtThePropertiesSite) {
    for (const StartCall& c : kStartCalls) {
        ScriptedRequester scripted;
        ScriptedRequester::Scope scope(scripted);
        scripted.devices = {{Native(L"C:\\"), L""}};
        agent = Agent();
        host.consoleBytes.clear();
        g_traceLevel = 2;
        PathArrays paths{L"C:\\a"};
        const int result = c.entry == Entry::kStartBackup2 ? StartBackup2(paths) : Run(c.entry);
        EXPECT_EQ(QUORLIN_RESULT_FAILED, result) << c.propertiesSite;
        const std::string line = "There was a COM failure 0x8000ffff - .\\QuorlinClass (" +
                                 std::to_string(c.propertiesSite) + ")";
        EXPECT_EQ(std::vector<std::string>{line}, Lines());
        const std::vector<std::string> tail = {"GetSnapshotProperties(snap1)", "AbortBackup()",
                                               "DeleteSnapshots(set1,2,1)"};
        const std::vector<std::string>& calls = scripted.Calls();
        ASSERT_GE(calls.size(), tail.size());
        EXPECT_EQ(tail, std::vector<std::string>(calls.end() - 3, calls.end()));
        EXPECT_EQ(-7, outputLength);
        EXPECT_TRUE(paths.Untouched(0));
        agent = Agent();
    }
}

// The device name is as long as the promised room allows, or one unit longer: the
// first is written whole, the second fails without touching the buffer.
TEST_F(SnapshotPathOutputTest, APathBeyondThePromisedRoomIsNeverWritten) {
    const std::wstring source = Native(L"C:\\a");
    const size_t room = PlatformSnapshotPathRoom(source.size());
    // The snapshot path is the device name, a separator and "a", then the terminator.
    const size_t longest = room - 3;
    for (const StartCall& c : kStartCalls) {
        for (size_t deviceLength : {longest, longest + 1}) {
            const bool fits = deviceLength == longest;
            ScriptedRequester scripted;
            ScriptedRequester::Scope scope(scripted);
            scripted.devices = {{Native(L"C:\\"), std::wstring(deviceLength, L'D')}};
            agent = Agent();
            host.consoleBytes.clear();
            g_traceLevel = 2;
            std::vector<wchar_t> buffer(room + 16, L'#');
            std::wstring input = source;
            int length = -7;
            wchar_t* sources[] = {&input[0]};
            wchar_t* buffers[] = {buffer.data()};
            int result = 0;
            if (c.entry == Entry::kStartBackup)
                result = agent.VssStartBackup(&input[0], buffer.data(), length);
            else if (c.entry == Entry::kNoWriter)
                result = agent.VssStartBackupNoWriter(&input[0], buffer.data(), length);
            else
                result = agent.VssStartBackup2(sources, buffers, 1);
            const std::string name = std::to_string(c.propertiesSite) + (fits ? " fits" : " long");
            const std::wstring expected =
                std::wstring(deviceLength, L'D') + PlatformPathSeparator() + L"a";
            if (fits) {
                EXPECT_EQ(QUORLIN_RESULT_OK, result) << name;
                EXPECT_EQ(expected, std::wstring(buffer.data())) << name;
                EXPECT_EQ(L'#', buffer[room]) << name;
            } else {
                EXPECT_EQ(QUORLIN_RESULT_FAILED, result) << name;
                EXPECT_EQ(L'#', buffer[0]) << name;
                EXPECT_EQ(-7, length) << name;
                const std::string line = "The snapshot path of " + Native(std::string("C:\\a")) +
                                         " needs " + std::to_string(room + 1) +
                                         " units, more than the " + std::to_string(room) +
                                         " that the header promises.";
                EXPECT_EQ(std::vector<std::string>{line}, Lines()) << name;
                EXPECT_EQ("DeleteSnapshots(set1,2,1)", scripted.Calls().back()) << name;
            }
            agent = Agent();
        }
    }
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
