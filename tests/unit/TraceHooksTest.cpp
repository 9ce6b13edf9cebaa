// The trace facility's hooks for the C interface: the process-wide line sink behind
// a host's trace callback, and the per-thread observer behind the report of a call.
#include "diag/TraceOptions.h"
#include "capi/CallReport.h"
#include "capi/quorlin/quorlin.h"
#include "diag/Trace.h"
#include "support/FakeHost.h"
#include "support/TraceState.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace quorlin {
namespace {

using testing::FakeHost;
using testing::TestConsole;

void QUORLIN_CALL Collect(void* context, const char* line) {
    static_cast<std::vector<std::string>*>(context)->push_back(line);
}

class TraceHooksTest : public ::testing::Test {
protected:
    TraceHooksTest() : agent(quorlin_agent_new(), quorlin_agent_free) {
        g_traceConsole = TestConsole();
        EXPECT_EQ(QUORLIN_OK, quorlin_set_trace_callback(agent.get(), Collect, &lines));
    }
    ~TraceHooksTest() override { SetTraceLineSink(nullptr); }

    FakeHost host;
    FakeHost::Scope scope{host};
    testing::TraceState saved;
    std::vector<std::string> lines;
    std::unique_ptr<quorlin_agent, void (*)(quorlin_agent*)> agent;
};

struct CallbackCase {
    const wchar_t* text;
    std::vector<std::string> lines;
};

TEST_F(TraceHooksTest, TheCallbackGetsEachLineInUtf8WithoutLineEnds) {
    g_traceLevel = 4;
    const CallbackCase cases[] = {
        {L"Calling DoSnapshotSet", {"Calling DoSnapshotSet"}},
        {L"AssertPrivilege returned error, rc:5\n", {"AssertPrivilege returned error, rc:5"}},
        {L"first\r\nsecond\nthird\rfourth\r\n", {"first", "second", "third", "fourth"}},
        {L"a\n\nb", {"a", "", "b"}},
        {L"", {""}},
        {L"Path: C:\\Donn\u00e9es \U0001F600",
         {"Path: C:\\Donn\xc3\xa9"
          "es \xf0\x9f\x98\x80"}},
    };
    for (const CallbackCase& c : cases) {
        lines.clear();
        host.consoleBytes.clear();
        TraceDetail(c.text);
        EXPECT_EQ(c.lines, lines) << c.text;
        EXPECT_FALSE(host.consoleBytes[TestConsole()].empty()) << "the console still gets it";
    }
}

TEST_F(TraceHooksTest, TheCallbackGetsWhatTheVerbosityLetsThroughUntilItIsRemoved) {
    g_traceLevel = 2;
    Trace(L"Backup successfully completed.", TRACE_LEVEL_RESULT);
    TraceDetail(L"Calling CreateVssBackupComponents");
    EXPECT_EQ(std::vector<std::string>{"Backup successfully completed."}, lines);

    EXPECT_EQ(QUORLIN_OK, quorlin_set_trace_callback(agent.get(), nullptr, nullptr));
    Trace(L"Backup successfully completed.", TRACE_LEVEL_RESULT);
    EXPECT_EQ(1u, lines.size());
}

// Sees one thread's lines.
class Recorder final : public TraceObserver {
public:
    void Observe(const wchar_t* text, int level) noexcept override {
        seen.push_back(std::to_wstring(level) + L" " + text);
    }
    std::vector<std::wstring> seen;
};

TEST_F(TraceHooksTest, AnObserverSeesItsThreadsLinesWhateverTheVerbosity) {
    g_traceLevel = 0;
    SetTraceLineSink(nullptr);
    Recorder outer;
    Trace(L"outer", TRACE_LEVEL_RESULT);
    {
        Recorder inner;  // the newest observer sees the lines
        TraceDetail(L"inner");
        std::thread other([] {
            Recorder own;
            Trace(L"other thread", TRACE_LEVEL_RESULT);
            EXPECT_EQ(std::vector<std::wstring>{L"2 other thread"}, own.seen);
        });
        other.join();
        EXPECT_EQ(std::vector<std::wstring>{L"4 inner"}, inner.seen);
    }
    Trace(L"outer again", TRACE_LEVEL_DETAIL);
    EXPECT_EQ((std::vector<std::wstring>{L"2 outer", L"4 outer again"}), outer.seen);
    EXPECT_TRUE(host.debugOutput.empty());  // verbosity 0: nothing written
}

struct ReportLineCase {
    std::vector<std::pair<const wchar_t*, int>> traced;
    int result;
    const wchar_t* report;
};

TEST_F(TraceHooksTest, ACallsReportIsItsLastOutcomeOrTheReasonOfARefusal) {
    const ReportLineCase cases[] = {
        {{{L"Calling X", 4}, {L"There was a COM failure 0x1 - x (2)", 2}, {L"Calling Y", 4}},
         QUORLIN_FAILED,
         L"There was a COM failure 0x1 - x (2)"},
        {{{L"first", 2}, {L"second\r\n", 2}}, QUORLIN_FAILED, L"second"},
        {{{L"Wrong calling sequence", 4}, {L"Invalid data.", 4}},
         QUORLIN_REFUSED,
         L"Invalid data."},
        {{{L"Wrong calling sequence", 4}}, QUORLIN_WRONG_SEQUENCE, L"Wrong calling sequence"},
        {{{L"Calling X", 4}}, QUORLIN_OK, L""},  // steps are no report
        {{{L"Calling X", 4}}, QUORLIN_FAILED, L""},
        {{}, QUORLIN_REFUSED, L""},
    };
    g_traceLevel = 0;
    for (const ReportLineCase& c : cases) {
        capi::CallReport report;
        for (const auto& line : c.traced)
            Trace(line.first, line.second);
        EXPECT_EQ(c.report, report.Line(c.result));
    }
}

}  // namespace
}  // namespace quorlin
