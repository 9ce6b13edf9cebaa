// Trace lines through real Win32 handles: a file, a pipe, and a handle that
// refuses writes.
#include "diag/TraceOptions.h"
#include "diag/Exceptions.h"
#include "diag/Trace.h"
#include "support/TraceState.h"
#include "win32/Win32Files.h"

#include <gtest/gtest.h>

#include <string>

namespace quorlin {
namespace {

using testing::ScopedHandle;
using testing::TempFile;

void TraceSample() {
    Trace(L"Backup successfully completed.", TRACE_LEVEL_RESULT);
    TraceDetail(L"Calling DoSnapshotSet");
    Trace(L"caf\u00e9 \u4e2d", TRACE_LEVEL_RESULT);
    Trace(L"", TRACE_LEVEL_RESULT);
}

const char kSampleAtResultLevel[] = "Backup successfully completed.\r\ncaf\x82 ?\r\n\r\n";

TEST(Win32TraceTest, LinesReachAFileAsOemBytesWithLineEnds) {
    testing::TraceState saved;
    TempFile file;
    {
        ScopedHandle handle(file.Open(GENERIC_WRITE));
        ASSERT_TRUE(handle.Valid());
        g_traceLevel = TRACE_LEVEL_RESULT;
        g_traceConsole = handle.Get();
        TraceSample();
    }
    EXPECT_EQ(kSampleAtResultLevel, file.Contents());
}

TEST(Win32TraceTest, LinesReachAPipe) {
    testing::TraceState saved;
    testing::Pipe pipe;
    ASSERT_TRUE(pipe.Valid());
    g_traceLevel = TRACE_LEVEL_DETAIL;
    g_traceConsole = pipe.Writer();
    TraceSample();
    EXPECT_EQ(std::string("Backup successfully completed.\r\nCalling DoSnapshotSet\r\n") +
                  "caf\x82 ?\r\n\r\n",
              pipe.Drain());
}

TEST(Win32TraceTest, AHandleThatRefusesWritesThrowsTheSystemText) {
    testing::TraceState saved;
    TempFile file;
    ScopedHandle readOnly(file.Open(GENERIC_READ));
    ASSERT_TRUE(readOnly.Valid());
    g_traceLevel = TRACE_LEVEL_RESULT;
    g_traceConsole = readOnly.Get();
    try {
        Trace(L"Backup successfully completed.", TRACE_LEVEL_RESULT);
        ADD_FAILURE() << "the write was not refused";
    } catch (CQuorlinException* failure) {
        EXPECT_STREQ(L"Unable to write to the console. Access denied.\r\n (Error number 5).",
                     failure->GetMessageText());
        delete failure;
    }
    TraceDetail(L"below the level: nothing is written, nothing thrown");
}

}  // namespace
}  // namespace quorlin
