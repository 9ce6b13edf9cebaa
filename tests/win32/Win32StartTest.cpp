// The start calls under Wine, where CreateVssBackupComponents answers E_NOTIMPL:
// the failure travels through the real requester and the real trace console.
#include "Quorlin.h"
#include "support/TraceState.h"
#include "win32/Win32Files.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <string>

namespace quorlin {
namespace {

enum class EntryPoint { kSinglePath, kMultiPath, kNoWriter };

struct StartCase {
    EntryPoint entry;
    const char* report;
};

int Start(CQuorlin& agent, EntryPoint entry, wchar_t* source, wchar_t* snapshot, int& length) {
    switch (entry) {
        case EntryPoint::kSinglePath:
            return agent.VssStartBackup(source, snapshot, length);
        case EntryPoint::kNoWriter:
            return agent.VssStartBackupNoWriter(source, snapshot, length);
        case EntryPoint::kMultiPath:
            break;
    }
    wchar_t* sources[] = {source};
    wchar_t* snapshots[] = {snapshot};
    return agent.VssStartBackup2(sources, snapshots, 1);
}

TEST(Win32StartTest, NoComponentsObjectUnderWineIsAComFailure) {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    const StartCase cases[] = {
        {EntryPoint::kSinglePath, "There was a COM failure 0x80004001 - .\\QuorlinClass (325)\r\n"},
        {EntryPoint::kMultiPath, "There was a COM failure 0x80004001 - .\\QuorlinClass (882)\r\n"},
        {EntryPoint::kNoWriter, "There was a COM failure 0x80004001 - .\\QuorlinClass (145)\r\n"},
    };
    for (const StartCase& c : cases) {
        testing::TraceState saved;
        testing::Pipe pipe;
        ASSERT_TRUE(pipe.Valid());
        wchar_t source[] = L"C:\\windows\\win.ini";
        wchar_t snapshot[MAX_PATH] = L"untouched";
        int length = -7;
        {
            CQuorlin agent;
            agent.VssSetting(_Quorlin_Setting{0, 2, pipe.Writer()});
            EXPECT_EQ(QUORLIN_RESULT_FAILED, Start(agent, c.entry, source, snapshot, length));
        }  // ending the agent adds nothing at verbosity 2
        EXPECT_EQ(c.report, pipe.Drain());
        EXPECT_STREQ(L"untouched", snapshot);
        EXPECT_EQ(-7, length);
    }
    ::CoUninitialize();
}

}  // namespace
}  // namespace quorlin
