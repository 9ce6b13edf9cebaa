// The POSIX host seam for real: trace lines through a pipe, a refused write,
// the C library's error text and the OEM stand-in.
#include "diag/Exceptions.h"
#include "diag/SystemErrorText.h"
#include "diag/Trace.h"
#include "platform/Platform.h"
#include "posix/BtrfsFixture.h"
#include "support/TraceState.h"
#include "text/Conversion.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

namespace quorlin {
namespace {

using testing::Drain;

HANDLE AsHandle(int fd) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd)); }

TEST(PosixHostTest, TraceLinesReachAPipeAsBytesWithLineEnds) {
    testing::TraceState trace;
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    g_traceLevel = 2;
    g_traceConsole = AsHandle(fds[1]);
    Trace(L"Backup successfully completed.", TRACE_LEVEL_RESULT);
    TraceDetail(L"Calling DoSnapshotSet");  // below the level
    Trace(L"caf\u00e9", TRACE_LEVEL_RESULT);
    close(fds[1]);
    EXPECT_EQ("Backup successfully completed.\r\ncaf?\r\n", Drain(fds[0]));
    close(fds[0]);
}

TEST(PosixHostTest, AConsoleThatRefusesWritesThrowsTheSystemText) {
    testing::TraceState trace;
    const int fd = open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 0);
    g_traceConsole = AsHandle(fd);
    try {
        TraceText(L"x");
        ADD_FAILURE() << "no exception";
    } catch (CQuorlinException* e) {
        EXPECT_STREQ(L"Unable to write to the console. Bad file descriptor (Error number 9).",
                     e->GetMessageText());
        delete e;
    }
    close(fd);
}

TEST(PosixHostTest, ErrorTextComesFromTheCLibrary) {
    std::wstring text;
    GetSystemErrorText(13, text);
    EXPECT_EQ(L"Permission denied (Error number 13)", text);
    GetSystemErrorText(0, text);
    EXPECT_EQ(L"Success (Error number 0)", text);
    GetSystemErrorText(99999, text);
    EXPECT_EQ(L"Error 99999", text);
    GetSystemErrorText(0x80000000u, text);
    EXPECT_EQ(L"Error -2147483648", text);
}

TEST(PosixHostTest, OemStandInIsOneBytePerUnit) {
    OemText oem = ToOemText(L"\u00e9t\u00e9 \U0001F600");
    ASSERT_NE(nullptr, oem.bytes.get());
    EXPECT_EQ("?t? ?", std::string(oem.bytes.get(), oem.size));
    std::wstring wide;
    AnsiToString("caf\xc3\xa9", wide);
    EXPECT_EQ(L"caf\u00e9", wide);
}

TEST(PosixHostTest, PathSeparatorIsSlash) { EXPECT_EQ(L'/', PlatformPathSeparator()); }

}  // namespace
}  // namespace quorlin
