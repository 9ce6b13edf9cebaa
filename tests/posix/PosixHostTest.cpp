// The POSIX host seam for real: trace lines through a pipe, a refused write, one that
// signals interrupt, the C library's error text, the OEM stand-in, the exact UTF-8 conversions and
// the huge-page advice.
#include "diag/Exceptions.h"
#include "diag/SystemErrorText.h"
#include "diag/Trace.h"
#include "diag/TraceOptions.h"
#include "platform/Platform.h"
#include "platform/posix/Utf8.h"
#include "posix/BtrfsFixture.h"
#include "support/TraceState.h"
#include "text/Conversion.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cwchar>
#include <sstream>
#include <string>
#include <thread>

namespace quorlin {
namespace {

using testing::Drain;
using testing::ReadFile;

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

// What became of SIGPIPE on this thread: "pending" or "none".
std::string PipeSignalState() {
    sigset_t pending;
    sigpending(&pending);
    return sigismember(&pending, SIGPIPE) == 1 ? "pending" : "none";
}

// A trace console whose reader has gone: the write fails with EPIPE and the library
// raises its console failure; the host lives on (SIGPIPE would end it), and a SIGPIPE
// that was pending before the write is left to the host. Each case runs in a child.
TEST(PosixHostTest, AClosedPipeFailsTheWriteInsteadOfEndingTheHost) {
    struct Case {
        const char* name;
        bool blockedByHost;
        bool pendingBefore;
    };
    const Case cases[] = {
        {"default disposition", false, false},
        {"blocked by the host", true, false},
        {"blocked, one pending", true, true},
    };
    for (const Case& c : cases) {
        const std::string outcome = testing::RunInChild([&] {
            testing::TraceState trace;
            int fds[2];
            if (pipe(fds) != 0)
                return std::string("no pipe");
            close(fds[0]);
            sigset_t pipeSignal;
            sigemptyset(&pipeSignal);
            sigaddset(&pipeSignal, SIGPIPE);
            if (c.blockedByHost)
                pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
            if (c.pendingBefore)
                raise(SIGPIPE);
            g_traceLevel = 2;
            g_traceConsole = AsHandle(fds[1]);
            std::string message = "no failure";
            try {
                Trace(L"Backup successfully completed.", TRACE_LEVEL_RESULT);
            } catch (CQuorlinException* e) {
                message = ToUtf8(e->GetMessageText(), std::wcslen(e->GetMessageText()));
                delete e;
            }
            return message + "; " + PipeSignalState();
        });
        const std::string expected =
            "Unable to write to the console. Broken pipe (Error number 32).; " +
            std::string(c.pendingBefore ? "pending" : "none");
        EXPECT_EQ(expected, outcome) << c.name;
    }
}

// A console write that a signal interrupts, before it wrote anything (EINTR) or after
// part of the line (a short write), goes on: the whole line arrives, and the write
// succeeds. The pipe is full, or fills, so that the write waits in write(2) for the signal.
TEST(PosixHostTest, AConsoleWriteGoesOnThroughSignalsAndShortWrites) {
    struct sigaction handler = {}, previous = {};
    handler.sa_handler = [](int) {};  // without SA_RESTART: the wait ends at the signal
    ASSERT_EQ(0, sigaction(SIGUSR1, &handler, &previous));
    for (bool prefilled : {true, false}) {
        SCOPED_TRACE(prefilled ? "interrupted before any byte" : "cut short");
        int fds[2];
        ASSERT_EQ(0, pipe(fds));
        const int capacity = fcntl(fds[1], F_SETPIPE_SZ, 4096);
        const std::string before(prefilled ? capacity : 0, 'p'), line(3 * capacity, 'x');
        ASSERT_EQ(static_cast<ssize_t>(before.size()), write(fds[1], before.data(), before.size()));
        std::atomic<pid_t> tid(0);
        bool written = false;
        std::thread writer([&] {
            tid = static_cast<pid_t>(syscall(SYS_gettid));
            written = PlatformHost().WriteFile(AsHandle(fds[1]), line.data(),
                                               static_cast<uint32_t>(line.size()));
            close(fds[1]);
        });
        const std::string inWrite = std::to_string(SYS_write) + " ";
        int queued = 0;
        for (int i = 0; i < 1000 && (queued != capacity || tid == 0 ||
                                     ReadFile("/proc/self/task/" + std::to_string(tid) + "/syscall")
                                         .compare(0, inWrite.size(), inWrite));
             ++i) {
            usleep(10000);
            ioctl(fds[0], FIONREAD, &queued);
        }
        pthread_kill(writer.native_handle(), SIGUSR1);
        const std::string arrived = Drain(fds[0]);
        writer.join();
        close(fds[0]);
        EXPECT_TRUE(written);
        EXPECT_TRUE(before + line == arrived) << arrived.size() << " bytes arrived";
    }
    sigaction(SIGUSR1, &previous, nullptr);
}

// The privilege failure text reaches standard output whichever orientation the host
// gave it. Each case runs in a child whose standard output is a fresh pipe.
TEST(PosixHostTest, StandardOutputTextAppearsWhateverItsOrientation) {
    for (int orientation : {-1, 0, 1}) {
        std::fflush(stdout);  // the child would write out what is still buffered
        const std::string seen = testing::RunInChild([&] {
            int fds[2];
            if (pipe(fds) != 0 || dup2(fds[1], 1) < 0 || freopen(nullptr, "w", stdout) == nullptr)
                return std::string("no pipe");
            close(fds[1]);
            if (orientation != 0 && std::fwide(stdout, orientation) * orientation <= 0)
                return std::string("orientation not set");
            PlatformHost().WriteStandardOutput(
                L"AdjustTokenPrivileges for SeBackupPrivilege "
                L"failed with 1300");
            std::fclose(stdout);
            return testing::Drain(fds[0]);
        });
        EXPECT_EQ("AdjustTokenPrivileges for SeBackupPrivilege failed with 1300", seen)
            << orientation;
    }
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

// Names are bytes: every byte string crosses into wide text and back exactly, a byte that
// is not UTF-8 as U+DC80-U+DCFF; wide text that names no bytes is refused, never replaced.
TEST(PosixHostTest, NamesCrossIntoWideTextAndBackExactly) {
    const struct {
        std::string bytes;
        const wchar_t* wide;
    } cases[] = {
        {"caf\xC3\xA9", L"caf\u00e9"},
        {"\xF0\x9F\x98\x80/\xEF\xBF\xBD", L"\U0001F600/\xFFFD"},
        {"", L""},
        {"a\xFF", L"a\xDCFF"},
        {"\xC0\xAF", L"\xDCC0\xDCAF"},                      // '/' in two bytes
        {"\xED\xA0\x80", L"\xDCED\xDCA0\xDC80"},            // a surrogate
        {"\xE2\x82", L"\xDCE2\xDC82"},                      // cut short
        {"\xF4\x90\x80\x80", L"\xDCF4\xDC90\xDC80\xDC80"},  // past U+10FFFF
        {"\x80", L"\xDC80"},
        {"\xED\xB2\x80", L"\xDCED\xDCB2\xDC80"},  // U+DC80's own form: no escape
        {"01234567\xC3\xA9"
         "89abcdef\xFF",
         L"01234567\u00e9"
         L"89abcdef\xDCFF"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.wide, FromUtf8(c.bytes)) << c.bytes;
        std::string bytes;
        EXPECT_EQ(0, ToUtf8Exact(c.wide, std::wcslen(c.wide), bytes));
        EXPECT_EQ(c.bytes, bytes);
    }
    for (const wchar_t unit : {L'\xD800', L'\xDFFF', static_cast<wchar_t>(0x110000)}) {
        std::string bytes;
        EXPECT_EQ(EILSEQ, ToUtf8Exact(&unit, 1, bytes)) << static_cast<uint32_t>(unit);
        EXPECT_EQ("\xEF\xBF\xBD", ToUtf8(&unit, 1));
    }
}

// The whole pages of a large block become eligible for huge pages, and nothing around it.
TEST(PosixHostTest, ALargeBulkWriteIsAdvisedHugePages) {
    if (ReadFile("/sys/kernel/mm/transparent_hugepage/enabled").find("[never]") !=
        std::string::npos)
        GTEST_SKIP() << "transparent huge pages are off";
    const size_t bytes = 8u << 20;
    char* block = static_cast<char*>(
        ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(MAP_FAILED, static_cast<void*>(block));
    PlatformHost().AdviseBulkWrite(block + 100, bytes - 200);
    // The THPeligible line of the mapping that holds `address`.
    auto eligible = [](const char* address) {
        std::istringstream smaps(ReadFile("/proc/self/smaps"));
        const uintptr_t at = reinterpret_cast<uintptr_t>(address);
        bool inside = false;
        for (std::string line; std::getline(smaps, line);) {
            uintptr_t start = 0, end = 0;
            if (std::sscanf(line.c_str(), "%lx-%lx ", &start, &end) == 2)
                inside = start <= at && at < end;
            else if (inside && line.compare(0, 12, "THPeligible:") == 0)
                return line.back() == '1';
        }
        return false;
    };
    EXPECT_TRUE(eligible(block + bytes / 2));
    EXPECT_FALSE(eligible(block));              // the first page is only partly in it
    EXPECT_FALSE(eligible(block + bytes - 1));  // and the last
    ::munmap(block, bytes);
    PlatformHost().AdviseBulkWrite(nullptr, 0);  // nothing to advise
}

TEST(PosixHostTest, PathSeparatorIsSlash) { EXPECT_EQ(L'/', PlatformPathSeparator()); }

}  // namespace
}  // namespace quorlin
