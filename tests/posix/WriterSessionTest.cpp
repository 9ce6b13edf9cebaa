// The writer runner through the phases of a backup, with shell writers that misbehave at
// one phase each: the phase fails with the right VSS writer error, every writer that was
// told to freeze is thawed, the others are told to abort, and no process is left.
#include "platform/posix/writers/WriterSession.h"
#include "posix/TestWriters.h"
#include "support/TraceState.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace quorlin {
namespace testing {
namespace {

using std::chrono::milliseconds;
using Log = std::vector<std::string>;

WriterBounds TestBounds() {
    WriterBounds bounds;
    bounds.answer = milliseconds(1500);
    bounds.freeze = milliseconds(4000);
    bounds.hold = milliseconds(1000);
    bounds.exit = milliseconds(500);
    return bounds;
}

// The device of the folder's file system: a "volume" that the writers' paths lie on.
std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

dev_t DeviceOf(const std::string& path) {
    struct stat status;
    EXPECT_EQ(0, ::stat(path.c_str(), &status)) << path;
    return status.st_dev;
}

class WriterSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TestWriters::Unavailable().empty())
            GTEST_SKIP() << TestWriters::Unavailable();
        ASSERT_EQ(0, cancel_.Open());
    }

    // Runs the phases in the service's order until one fails, then aborts; the failing
    // phase's result, its name in `failedPhase`.
    HRESULT RunBackup(WriterSession& session, const TestWriters& writers,
                      std::string& failedPhase) {
        const std::vector<dev_t> volumes = {DeviceOf(writers.Area())};
        HRESULT hr = session.Start(FindWriters(writers.Folder()), cancel_);
        failedPhase = "identify";
        if (hr == S_OK) {
            hr = session.Prepare(volumes, false, cancel_);
            failedPhase = "prepare";
        }
        if (hr == S_OK) {
            hr = session.Freeze(cancel_);
            failedPhase = "freeze";
            const HRESULT thawed = session.Thaw(cancel_);
            if (hr == S_OK && thawed != S_OK) {
                hr = thawed;
                failedPhase = "thaw";
            }
        }
        if (hr == S_OK) {
            hr = session.Complete(true, cancel_);
            failedPhase = "complete";
        }
        if (hr != S_OK)
            session.Abort();
        else
            failedPhase.clear();
        return hr;
    }

    static TestWriter Writer(const TestWriters& writers, const std::string& name) {
        return {name, {writers.Area() + "/data"}, {}, ""};
    }

    TraceState traceState_;
    TestWriters writers_;
    Cancellation cancel_;
};

const Log kSoundLog = {"identify 1", "prepare full", "freeze", "thaw", "complete succeeded", "end"};

TEST_F(WriterSessionTest, SoundWritersGoThroughEveryPhaseAndOnlyThoseOnTheSetTakePart) {
    writers_.Add(Writer(writers_, "first"));
    writers_.Add(Writer(writers_, "second"));
    writers_.Add({"elsewhere", {"/proc/self"}, {}, ""});  // not on the volumes of the set
    TracedLines trace;
    {
        WriterSession session(TestBounds());
        std::string failedPhase;
        EXPECT_EQ(S_OK, RunBackup(session, writers_, failedPhase)) << failedPhase;
        EXPECT_FALSE(session.Running());
    }
    EXPECT_EQ(kSoundLog, writers_.Log("first"));
    EXPECT_EQ(kSoundLog, writers_.Log("second"));
    EXPECT_EQ(Log({"identify 1", "end"}), writers_.Log("elsewhere"));
    for (const char* name : {"first", "second", "elsewhere"})
        EXPECT_FALSE(writers_.GroupAlive(name)) << name;
    EXPECT_TRUE(trace.results.empty()) << trace.results.front();
    EXPECT_TRUE(trace.workflows.empty()) << trace.workflows.front();
    const std::vector<std::string> expected = {"Writer first: freeze", "Writer first: frozen (",
                                               "Writer second: thaw",
                                               "Writer elsewhere: not involved"};
    for (const std::string& step : expected)
        EXPECT_TRUE(std::any_of(trace.steps.begin(), trace.steps.end(),
                                [&](const std::string& line) { return line.find(step) == 0; }))
            << step;
}

TEST_F(WriterSessionTest, AWriterThatFailsFailsItsPhaseAndEveryWriterIsThawedAndAborted) {
    struct Case {
        const char* what;
        const char* at;       // where the bad writer misbehaves
        std::string instead;  // its lines there
        const char* failsAt;  // the phase that fails
        HRESULT code;
        const char* reason;  // in the level-2 line
        Log badLog;          // what the bad writer read
        Log goodLog;         // what a sound writer beside it read
    };
    const Log afterFreeze = {"identify 1", "prepare full", "freeze", "thaw", "abort"};
    const Log toFreeze = {"identify 1", "prepare full", "freeze"};
    const Case cases[] = {
        {"never answers identify",
         "identify",
         ":",
         "identify",
         VSS_E_WRITERERROR_TIMEOUT,
         "no answer within 1500 ms",
         {"identify 1", "abort"},
         {"identify 1", "abort"}},
        {"hangs at identify",
         "identify",
         "sleep 100",
         "identify",
         VSS_E_WRITERERROR_TIMEOUT,
         "no answer within 1500 ms",
         {"identify 1"},
         {"identify 1", "abort"}},
        {"stops reading (and SIGPIPE must not end the host)",
         "identify",
         "exec 0<&-; echo ready; sleep 100",
         "prepare",
         VSS_E_WRITERERROR_NONRETRYABLE,
         "failed to prepare: it does not read its input",
         {"identify 1"},
         {"identify 1", "abort"}},
        {"fails to prepare",
         "prepare",
         "echo 'error disk on fire'",
         "prepare",
         VSS_E_WRITERERROR_NONRETRYABLE,
         "failed to prepare: disk on fire",
         {"identify 1", "prepare full", "abort"},
         {"identify 1", "prepare full", "abort"}},
        {"never answers freeze", "freeze", ":", "freeze", VSS_E_WRITERERROR_TIMEOUT,
         "failed to freeze: no answer within", afterFreeze, afterFreeze},
        {"dies at freeze", "freeze", "exit 3", "freeze", VSS_E_WRITERERROR_NONRETRYABLE,
         "failed to freeze: it exited with status 3", toFreeze, afterFreeze},
        {"asks for a retry", "freeze", "echo 'retry busy'", "freeze", VSS_E_WRITERERROR_RETRYABLE,
         "failed to freeze: busy (retryable)", afterFreeze, afterFreeze},
        {"answers outside the protocol", "freeze", "echo frozn", "freeze",
         VSS_E_WRITERERROR_NONRETRYABLE, "the answer \"frozn\" is not in the writer protocol",
         afterFreeze, afterFreeze},
        {"freezes after the others held too long", "freeze", "sleep 2; echo frozen", "freeze",
         VSS_E_WRITERERROR_TIMEOUT, "no answer within the 1 s that writers may hold", toFreeze,
         afterFreeze},
        {"never thaws", "thaw", ":", "thaw", VSS_E_WRITERERROR_TIMEOUT,
         "failed to thaw: no answer within 1500 ms", afterFreeze, afterFreeze},
        {"fails to complete",
         "complete",
         "echo 'error no log to truncate'",
         "complete",
         VSS_E_WRITERERROR_NONRETRYABLE,
         "failed to complete: no log to truncate",
         {"identify 1", "prepare full", "freeze", "thaw", "complete succeeded", "abort"},
         {"identify 1", "prepare full", "freeze", "thaw", "complete succeeded", "end"}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        TestWriters writers;
        TestWriter bad = Writer(writers, "bad");
        bad.instead[test.at] = test.instead;
        if (std::string(test.at) == "identify" && std::string(test.failsAt) != "identify")
            bad.instead[test.at] = "echo 'path " + writers.Area() + "'; " + test.instead;
        writers.Add(bad);
        writers.Add(Writer(writers, "good"));
        TracedLines trace;
        std::string failedPhase;
        {
            WriterSession session(TestBounds());
            EXPECT_EQ(test.code, RunBackup(session, writers, failedPhase));
            EXPECT_FALSE(session.Running());
        }
        EXPECT_EQ(test.failsAt, failedPhase);
        EXPECT_EQ(test.badLog, writers.Log("bad"));
        EXPECT_EQ(test.goodLog, writers.Log("good"));
        EXPECT_FALSE(writers.GroupAlive("bad"));
        EXPECT_FALSE(writers.GroupAlive("good"));
        ASSERT_EQ(1u, trace.results.size());
        EXPECT_EQ(0u, trace.results[0].find("Writer bad failed to ")) << trace.results[0];
        EXPECT_NE(std::string::npos, trace.results[0].find(test.reason)) << trace.results[0];
    }
}

TEST_F(WriterSessionTest, AWriterRunsAloneWithACleanEnvironmentAndOnlyItsPipes) {
    const std::string area = writers_.Area();
    TestWriter writer = Writer(writers_, "alone");
    writer.atStart = "env > " + area + "/env; pwd > " + area + "/pwd; " +
                     "find /proc/$$/fd -mindepth 1 -fprintf " + area +
                     "/fds '%f %l\\n'; sed 's/.*) //' /proc/$$/stat | cut -d' ' -f3 > " + area +
                     "/group; echo $$ > " + area + "/self";
    writers_.Add(writer);
    // What the host holds open, or has in its environment, must not reach the writer.
    const int leak = ::open((area + "/leak").c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(leak, 0);
    ::setenv("QUORLIN_TEST_PASSED", "yes", 1);
    ::setenv("TEST_KEPT_FROM_WRITERS", "yes", 1);
    {
        WriterSession session(TestBounds());
        EXPECT_EQ(S_OK, session.Start(FindWriters(writers_.Folder()), cancel_));
    }
    ::unsetenv("QUORLIN_TEST_PASSED");
    ::unsetenv("TEST_KEPT_FROM_WRITERS");
    ::close(leak);

    const std::string environment = ReadFile(area + "/env");
    EXPECT_NE(
        std::string::npos,
        environment.find("PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin\n"));
    EXPECT_NE(std::string::npos, environment.find("QUORLIN_TEST_PASSED=yes\n"));
    EXPECT_EQ(std::string::npos, environment.find("TEST_KEPT_FROM_WRITERS")) << environment;
    EXPECT_EQ(std::string::npos, environment.find("HOME=")) << environment;
    EXPECT_EQ("/\n", ReadFile(area + "/pwd"));
    EXPECT_EQ(ReadFile(area + "/self"), ReadFile(area + "/group")) << "a process group of its own";
    // 0, 1 and 2 are its pipes; anything else is its own script, which the shell reads.
    std::istringstream fds(ReadFile(area + "/fds"));
    int fd = -1;
    std::string target;
    int count = 0;
    while (fds >> fd >> target) {
        ++count;
        if (fd <= 2)
            EXPECT_EQ(0u, target.find("pipe:")) << fd << " " << target;
        else
            EXPECT_EQ(writers_.Folder() + "/alone", target) << fd;
    }
    EXPECT_GE(count, 3);
}

TEST_F(WriterSessionTest, CancelThawsAbortsAndEndsTheWriters) {
    TestWriter stuck = Writer(writers_, "stuck");
    stuck.instead["freeze"] = ":";  // never answers, reads on
    writers_.Add(stuck);
    TestWriter hung = Writer(writers_, "hung");
    hung.instead["freeze"] = "sleep 100";  // reads nothing more
    writers_.Add(hung);
    WriterBounds bounds;  // the real freeze bound: only the cancellation ends the freeze
    bounds.exit = milliseconds(300);
    WriterSession session(bounds);
    ASSERT_EQ(S_OK, session.Start(FindWriters(writers_.Folder()), cancel_));
    ASSERT_EQ(S_OK, session.Prepare({DeviceOf(writers_.Area())}, true, cancel_));
    std::thread canceller([this] {
        std::this_thread::sleep_for(milliseconds(200));
        cancel_.Fire();
    });
    EXPECT_EQ(VSS_S_ASYNC_CANCELLED, session.Freeze(cancel_));
    canceller.join();
    EXPECT_FALSE(session.Running());
    EXPECT_EQ(Log({"identify 1", "prepare incremental", "freeze", "thaw", "abort"}),
              writers_.Log("stuck"));
    EXPECT_EQ(Log({"identify 1", "prepare incremental", "freeze"}), writers_.Log("hung"));
    EXPECT_FALSE(writers_.GroupAlive("stuck"));
    EXPECT_FALSE(writers_.GroupAlive("hung"));
}

TEST_F(WriterSessionTest, AHoldLongerThanItsBoundFailsTheThaw) {
    writers_.Add(Writer(writers_, "first"));
    WriterBounds bounds = TestBounds();
    bounds.hold = milliseconds(100);
    TracedLines trace;
    WriterSession session(bounds);
    ASSERT_EQ(S_OK, session.Start(FindWriters(writers_.Folder()), cancel_));
    ASSERT_EQ(S_OK, session.Prepare({DeviceOf(writers_.Area())}, false, cancel_));
    ASSERT_EQ(S_OK, session.Freeze(cancel_));
    std::this_thread::sleep_for(milliseconds(300));  // a snapshot that takes too long
    EXPECT_EQ(VSS_E_WRITERERROR_TIMEOUT, session.Thaw(cancel_));
    ASSERT_EQ(1u, trace.results.size());
    EXPECT_EQ(0u, trace.results[0].find("Writers first failed to thaw: they held for "))
        << trace.results[0];
    session.Abort();
    EXPECT_EQ(Log({"identify 1", "prepare full", "freeze", "thaw", "abort"}),
              writers_.Log("first"));
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
