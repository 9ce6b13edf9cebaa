#include "diag/TraceOptions.h"
#include "diag/Exceptions.h"
#include "diag/Trace.h"
#include "support/FakeHost.h"
#include "support/TraceState.h"

#include <gtest/gtest.h>

namespace quorlin {
namespace {

using testing::FakeHost;
using testing::TestConsole;

class TraceTest : public ::testing::Test {
protected:
    FakeHost host;
    FakeHost::Scope scope{host};
    testing::TraceState saved;
};

struct LevelCase {
    int verbosity;
    bool resultLines;
    bool detailLines;
};

TEST_F(TraceTest, VerbosityDecidesWhichLinesAppear) {
    const LevelCase cases[] = {{-3, false, false}, {0, false, false}, {1, false, false},
                               {2, true, false},   {3, true, false},  {4, true, true},
                               {9, true, true}};
    for (const LevelCase& c : cases) {
        host.debugOutput.clear();
        host.consoleBytes.clear();
        g_traceLevel = c.verbosity;
        g_traceConsole = TestConsole();
        Trace(L"Backup successfully completed.", TRACE_LEVEL_RESULT);
        TraceDetail(L"Calling CreateVssBackupComponents");
        std::wstring expectedDebug;
        std::string expectedConsole;
        if (c.resultLines) {
            expectedDebug += L"Backup successfully completed.\r\n";
            expectedConsole += "Backup successfully completed.\r\n";
        }
        if (c.detailLines) {
            expectedDebug += L"Calling CreateVssBackupComponents\r\n";
            expectedConsole += "Calling CreateVssBackupComponents\r\n";
        }
        EXPECT_EQ(expectedDebug, host.DebugText()) << "verbosity " << c.verbosity;
        EXPECT_EQ(expectedConsole, host.consoleBytes[TestConsole()]) << "verbosity " << c.verbosity;
    }
}

TEST_F(TraceTest, ALineIsTwoDebugMessagesAndTwoConsoleWrites) {
    g_traceLevel = 4;
    g_traceConsole = TestConsole();
    TraceDetail(L"Calling DoSnapshotSet");
    ASSERT_EQ(2u, host.debugOutput.size());
    EXPECT_EQ(L"Calling DoSnapshotSet", host.debugOutput[0]);
    EXPECT_EQ(L"\r\n", host.debugOutput[1]);
    EXPECT_EQ((std::vector<uint32_t>{21, 2}), host.consoleWriteSizes);
}

TEST_F(TraceTest, WithoutConsoleOnlyTheDebuggerReceives) {
    g_traceLevel = 4;
    TraceDetail(L"Calling StartSnapshotSet");
    EXPECT_EQ(L"Calling StartSnapshotSet\r\n", host.DebugText());
    EXPECT_TRUE(host.consoleBytes.empty());
}

TEST_F(TraceTest, ConsoleGetsOneReplacementBytePerUnrepresentableCharacter) {
    g_traceConsole = TestConsole();
    TraceLine(L"caf\u00e9 \u4e2d");
    EXPECT_EQ("caf? ?\r\n", host.consoleBytes[TestConsole()]);
    EXPECT_EQ(L"caf\u00e9 \u4e2d", host.debugOutput[0]);
}

TEST_F(TraceTest, EmptyTextWritesNothingToTheConsole) {
    g_traceConsole = TestConsole();
    TraceText(L"");
    EXPECT_TRUE(host.consoleWriteSizes.empty());
    EXPECT_EQ(1u, host.debugOutput.size());
}

TEST_F(TraceTest, RefusedConsoleWriteThrowsWithTheSystemText) {
    host.consoleFails = true;
    host.consoleError = 6;
    host.systemMessages[6] = L"The handle is invalid.\r\n";
    g_traceLevel = 4;
    g_traceConsole = TestConsole();
    try {
        TraceDetail(L"Calling InitializeForBackup");
        FAIL() << "no exception";
    } catch (CQuorlinException* e) {
        EXPECT_STREQ(
            L"Unable to write to the console. The handle is invalid.\r\n (Error number 6).",
            e->GetMessageText());
        delete e;
    }
    // The debugger had the text; the line end was never attempted.
    EXPECT_EQ((std::vector<std::wstring>{L"Calling InitializeForBackup"}), host.debugOutput);
}

TEST_F(TraceTest, RefusedConsoleWithoutSystemMessageNamesTheCode) {
    host.consoleFails = true;
    host.consoleError = 77;
    g_traceConsole = TestConsole();
    try {
        TraceText(L"x");
        FAIL() << "no exception";
    } catch (CQuorlinException* e) {
        EXPECT_STREQ(L"Unable to write to the console. Error 77.", e->GetMessageText());
        delete e;
    }
}

}  // namespace
}  // namespace quorlin
