// The stop wait gives back what it takes: each wait for Enter or a stop closes its event
// once both the wait and its reader of standard input are done with it. And a 32-bit
// quorlin under WOW64 says why it gets no snapshot (Wine here runs 64-bit programs only,
// so the decision is shown on its own).
#include "Architecture.h"
#include "StopSignal.h"
#include "win32/StopEvent.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace qtool {
namespace {

// Standard input at its end, so that each wait's reader ends at once.
DWORD HandlesAfterWaits(int waits) {
    for (int i = 0; i < waits; ++i) {
        HANDLE reader = nullptr;
        HANDLE writer = nullptr;
        EXPECT_TRUE(CreatePipe(&reader, &writer, nullptr, 0));
        CloseHandle(writer);
        HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
        SetStdHandle(STD_INPUT_HANDLE, reader);
        WaitForEnterOrStop();
        Sleep(50);  // the reader meets the end of its input and lets go of the event
        SetStdHandle(STD_INPUT_HANDLE, input);
        CloseHandle(reader);
    }
    DWORD count = 0;
    EXPECT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &count));
    return count;
}

TEST(Win32ToolTest, AStopWaitLeavesNoHandleBehind) {
    InstallStopHandlers();
    SetEvent(StopEvent());
    const DWORD before = HandlesAfterWaits(2);
    const DWORD after = HandlesAfterWaits(20);
    ResetEvent(StopEvent());
    EXPECT_LE(after, before + 2);
}

TEST(Win32ToolTest, A32BitQuorlinOn64BitWindowsNamesThe64BitBuild) {
    EXPECT_EQ(nullptr, ArchitectureRefusal(false));
    const std::string refusal = ArchitectureRefusal(true);
    EXPECT_NE(std::string::npos, refusal.find("serves 64-bit programs only")) << refusal;
    EXPECT_NE(std::string::npos, refusal.find("64-bit quorlin.exe")) << refusal;
    CheckArchitectureServed("take a snapshot of C:\\");  // Wine runs this 64-bit test as it is
}

}  // namespace
}  // namespace qtool
