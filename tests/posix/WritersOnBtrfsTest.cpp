// Writers around real snapshots: a writer holds while its volume's snapshot is taken, a
// writer that fails fails the set with a VSS writer error at the step's site and leaves
// nothing behind, writers that do not take part are let go, and an operation with writers
// runs while the host waits and stops when cancelled.
#include "Quorlin.h"
#include "platform/posix/Utf8.h"
#include "platform/posix/btrfs/BtrfsBackupComponents.h"
#include "posix/BtrfsFixture.h"
#include "posix/TestWriters.h"
#include "support/TraceState.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cwchar>
#include <sys/stat.h>
#include <unistd.h>

namespace quorlin {
namespace testing {
namespace {

using std::chrono::milliseconds;
using Log = std::vector<std::string>;

class WritersOnBtrfsTest : public BtrfsTest {
protected:
    void SetUp() override {
        BtrfsTest::SetUp();
        if (IsSkipped())
            return;
        settings_.folder = writers_.Folder();
        settings_.bounds.answer = milliseconds(2000);
        settings_.bounds.freeze = milliseconds(2000);
        settings_.bounds.hold = milliseconds(2000);
        settings_.bounds.exit = milliseconds(300);
        previous_ = SetBackupComponentsFactory([this](ComPtr<BackupComponents>& components) {
            return CreateBtrfsBackupComponents(SystemVolumeCalls(), components, settings_);
        });
    }
    void TearDown() override {
        if (!IsSkipped())
            SetBackupComponentsFactory(previous_);
        BtrfsTest::TearDown();
    }

    // A writer that cares about `path` and answers as told.
    void AddWriter(const std::string& name, const std::string& path,
                   std::map<std::string, std::string> instead = {}) {
        writers_.Add({name, {path}, std::move(instead), ""});
    }

    // Runs `call` on an agent whose report lines, the service's included (verbosity 5), go
    // to a pipe; its result, and the lines in `lines`.
    static int Traced(const std::function<int(CQuorlin&)>& call, std::vector<std::string>& lines) {
        int fds[2];
        EXPECT_EQ(0, ::pipe(fds));
        int result = -1;
        {
            CQuorlin agent;
            _Quorlin_Setting setting = {0, TRACE_LEVEL_SERVICE_RESULT,
                                        reinterpret_cast<HANDLE>(static_cast<intptr_t>(fds[1]))};
            agent.VssSetting(setting);
            result = call(agent);
            agent.VssSetting(1, 0);  // what the destructor traces is not the call's
        }
        ::close(fds[1]);
        const std::string text = Drain(fds[0]);
        ::close(fds[0]);
        size_t start = 0, end;
        while ((end = text.find("\r\n", start)) != std::string::npos) {
            lines.push_back(text.substr(start, end - start));
            start = end + 2;
        }
        return result;
    }

    // VssStartBackup of `source`, then VssBackupComplete when `complete` and it succeeded.
    static int StartThenComplete(CQuorlin& agent, std::vector<wchar_t>& source,
                                 std::vector<wchar_t>& snapshot, bool complete) {
        int length = 0;
        const int start = agent.VssStartBackup(source.data(), snapshot.data(), length);
        return complete && start == QUORLIN_RESULT_OK ? agent.VssBackupComplete() : start;
    }

    static std::vector<wchar_t> Wide(const std::string& path) {
        const std::wstring wide = FromUtf8(path);
        std::vector<wchar_t> units(wide.begin(), wide.end());
        units.push_back(L'\0');
        return units;
    }

    TraceState traceState_;
    TestWriters writers_;
    WriterSettings settings_;
    BackupComponentsFactory previous_;
};

TEST_F(WritersOnBtrfsTest, TheSnapshotIsTakenWhileTheWritersHold) {
    const std::string volume = NewSubvolume("held");
    const std::string state = volume + "/state";
    WriteFile(state, "running\n");
    AddWriter("app", volume + "/data",
              {{"freeze", "echo flushed > " + state + "; echo frozen"},
               {"thaw", "echo running again > " + state + "; echo thawed"}});
    for (int backupType : {0, 2}) {
        SCOPED_TRACE(backupType == 2 ? "incremental" : "full");
        std::vector<wchar_t> source = Wide(state), snapshot(8192);
        int length = 0;
        CQuorlin agent;
        agent.VssSetting(0, backupType);
        ASSERT_EQ(QUORLIN_RESULT_OK, agent.VssStartBackup(source.data(), snapshot.data(), length));
        const std::string frozen = ToUtf8(snapshot.data(), std::wcslen(snapshot.data()));
        EXPECT_EQ("flushed\n", ReadFile(frozen));
        EXPECT_EQ("running again\n", ReadFile(state));
        const std::string prepare = backupType == 2 ? "prepare incremental" : "prepare full";
        EXPECT_EQ(Log({"identify 1", prepare, "freeze", "thaw"}), writers_.Log("app"));
        EXPECT_EQ(QUORLIN_RESULT_OK, agent.VssBackupComplete());
        EXPECT_EQ(Log({"identify 1", prepare, "freeze", "thaw", "complete succeeded", "end"}),
                  writers_.Log("app"));
        EXPECT_FALSE(writers_.GroupAlive("app"));
        EXPECT_TRUE(NothingStored());
        ::unlink((writers_.Area() + "/app.log").c_str());
    }
}

TEST_F(WritersOnBtrfsTest, AFailedWriterFailsTheSetWithAWriterErrorAtTheStepsSite) {
    struct Case {
        const char* what;
        std::map<std::string, std::string> bad;  // the bad writer's answers
        bool atCompletion;                       // it fails VssBackupComplete
        const char* report;                      // the agent's report line
        const char* writerLine;                  // the service's line before it
        Log badLog, goodLog;
    };
    const Log heldAndAborted = {"identify 1", "prepare full", "freeze", "thaw", "abort"};
    const Case cases[] = {
        {"never answers freeze",
         {{"freeze", ":"}},
         false,
         "There was a COM failure 0x800423f2 - .\\QuorlinClass (577)",
         "Writer bad failed to freeze: no answer within 2 s.",
         heldAndAborted,
         heldAndAborted},
        {"dies mid-freeze",
         {{"freeze", "exit 7"}},
         false,
         "There was a COM failure 0x800423f4 - .\\QuorlinClass (577)",
         "Writer bad failed to freeze: it exited with status 7.",
         {"identify 1", "prepare full", "freeze"},
         heldAndAborted},
        {"cannot freeze",
         {{"freeze", "echo 'error log device full'"}},
         false,
         "There was a COM failure 0x800423f4 - .\\QuorlinClass (577)",
         "Writer bad failed to freeze: log device full.",
         heldAndAborted,
         heldAndAborted},
        {"asks for a retry at prepare",
         {{"prepare", "echo 'retry replica busy'"}},
         false,
         "There was a COM failure 0x800423f3 - .\\QuorlinClass (558)",
         "Writer bad failed to prepare: replica busy (retryable).",
         {"identify 1", "prepare full", "abort"},
         {"identify 1", "prepare full", "abort"}},
        {"never identifies",
         {{"identify", "sleep 60"}},
         false,
         "There was a COM failure 0x800423f2 - .\\QuorlinClass (340)",
         "Writer bad failed to identify: no answer within 2 s.",
         {"identify 1"},
         {"identify 1", "abort"}},
        {"fails the completion",
         {{"complete", "echo 'error cannot truncate'"}},
         true,
         "There was a COM failure 0x800423f4 - .\\QuorlinClass (696)",
         "Writer bad failed to complete: cannot truncate.",
         {"identify 1", "prepare full", "freeze", "thaw", "complete succeeded", "abort"},
         {"identify 1", "prepare full", "freeze", "thaw", "complete succeeded", "end"}},
    };
    const std::string volume = NewSubvolume("failing");
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        for (const char* name : {"bad", "good"})
            ::unlink((writers_.Area() + "/" + name + ".log").c_str());
        AddWriter("bad", volume + "/db", test.bad);
        AddWriter("good", volume + "/db");
        std::vector<wchar_t> source = Wide(volume + "/"), snapshot(8192);
        std::vector<std::string> lines;
        const auto started = std::chrono::steady_clock::now();
        const int result = Traced(
            [&](CQuorlin& agent) {
                return StartThenComplete(agent, source, snapshot, test.atCompletion);
            },
            lines);
        EXPECT_EQ(QUORLIN_RESULT_FAILED, result);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20))
            << "bounded by the writers' limits";
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(test.report, lines.back());
        EXPECT_NE(lines.end() - 1, std::find(lines.begin(), lines.end() - 1, test.writerLine));
        EXPECT_EQ(test.badLog, writers_.Log("bad"));
        EXPECT_EQ(test.goodLog, writers_.Log("good"));
        EXPECT_FALSE(writers_.GroupAlive("bad"));
        EXPECT_FALSE(writers_.GroupAlive("good"));
        EXPECT_TRUE(NothingStored());
    }
}

// With the agent's time limit far below the writers' own bounds, a writer that never answers
// is cancelled when the limit passes: the step fails at its wait's site with the timeout
// code, the writers are thawed and aborted, and nothing is left stored.
TEST_F(WritersOnBtrfsTest, AWriterThatNeverAnswersIsCancelledAtTheAgentsTimeLimit) {
    struct Case {
        const char* what;
        std::map<std::string, std::string> stuck;
        bool atCompletion;
        int site;
        Log stuckLog;
    };
    const Case cases[] = {
        {"never identifies", {{"identify", "sleep 120"}}, false, 336, {"identify 1"}},
        {"never answers prepare",
         {{"prepare", ":"}},
         false,
         555,
         {"identify 1", "prepare full", "abort"}},
        {"never answers freeze",
         {{"freeze", ":"}},
         false,
         572,
         {"identify 1", "prepare full", "freeze", "thaw", "abort"}},
        {"never answers the completion",
         {{"complete", ":"}},
         true,
         693,
         {"identify 1", "prepare full", "freeze", "thaw", "complete succeeded", "abort"}},
    };
    const std::string volume = NewSubvolume("limited");
    settings_.bounds = WriterBounds();  // 60 s and more: only the agent's limit ends the wait
    settings_.bounds.exit = milliseconds(300);
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        ::unlink((writers_.Area() + "/stuck.log").c_str());
        AddWriter("stuck", volume + "/db", test.stuck);
        std::vector<wchar_t> source = Wide(volume + "/"), snapshot(8192);
        std::vector<std::string> lines;
        const auto started = std::chrono::steady_clock::now();
        const int result = Traced(
            [&](CQuorlin& agent) {
                agent.VssSetting(QUORLIN_SETTING_WAIT_LIMIT, 1000);
                return StartThenComplete(agent, source, snapshot, test.atCompletion);
            },
            lines);
        EXPECT_EQ(QUORLIN_RESULT_FAILED, result);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(40))
            << "a hang: the writers' own bounds are 60 s";
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ("There was a COM failure 0x800705b4 - .\\QuorlinClass (" +
                      std::to_string(test.site) + ")",
                  lines.back());
        EXPECT_EQ(test.stuckLog, writers_.Log("stuck"));
        EXPECT_FALSE(writers_.GroupAlive("stuck"));
        EXPECT_TRUE(NothingStored());
    }
}

// The second snapshot of a set fails, as on a full volume.
class SecondSnapshotFails : public VolumeCalls {
public:
    int CreateSnapshot(int sourceFd, int dirFd, const char* name) override {
        return ++snapshots_ == 2 ? ENOSPC : VolumeCalls::CreateSnapshot(sourceFd, dirFd, name);
    }

private:
    int snapshots_ = 0;
};

TEST_F(WritersOnBtrfsTest, WritersAreThawedWhenTheSnapshotFails) {
    const std::string first = NewSubvolume("full");
    const std::string second = NewSubvolume("full", SecondBtrfs());
    AddWriter("app", first + "/db");
    SecondSnapshotFails calls;
    ComPtr<BackupComponents> components;
    ASSERT_EQ(S_OK, CreateBtrfsBackupComponents(calls, components, settings_));
    ASSERT_EQ(S_OK, components->InitializeForBackup(nullptr));
    ComPtr<AsyncOperation> async;
    ASSERT_EQ(S_OK, components->GatherWriterMetadata(async));
    ASSERT_EQ(S_OK, async->Wait(INFINITE));
    VSS_ID setId, id;
    ASSERT_EQ(S_OK, components->StartSnapshotSet(&setId));
    for (const std::string& volume : {first, second})
        ASSERT_EQ(S_OK,
                  components->AddToSnapshotSet(FromUtf8(volume + "/").c_str(), GUID_NULL, &id));
    ASSERT_EQ(S_OK, components->PrepareForBackup(async));
    ASSERT_EQ(S_OK, async->Wait(INFINITE));
    ASSERT_EQ(S_OK, components->DoSnapshotSet(async));
    ASSERT_EQ(S_OK, async->Wait(INFINITE));
    HRESULT status = S_OK;
    EXPECT_EQ(S_OK, async->QueryStatus(&status, nullptr));
    EXPECT_EQ(VSS_E_INSUFFICIENT_STORAGE, status);
    EXPECT_EQ(Log({"identify 1", "prepare full", "freeze", "thaw"}), writers_.Log("app"));
    EXPECT_TRUE(NothingStored()) << "the first volume's snapshot is rolled back";
    EXPECT_EQ(S_OK, components->AbortBackup());
    EXPECT_EQ(Log({"identify 1", "prepare full", "freeze", "thaw", "abort"}), writers_.Log("app"));
}

TEST_F(WritersOnBtrfsTest, WritersThatDoNotTakePartAreLetGoOrNeverStarted) {
    const std::string volume = NewSubvolume("alone");
    const std::string elsewhere = NewSubvolume("elsewhere", SecondBtrfs());
    AddWriter("other", elsewhere + "/db");
    writers_.Add({"foreign", {volume + "/db"}, {}, ""});
    ASSERT_EQ(0, ::chown((writers_.Folder() + "/foreign").c_str(), 65534, 65534));
    std::vector<wchar_t> source = Wide(volume + "/"), snapshot(8192);
    TracedLines traced;  // the refusal is found on the calling thread
    {
        CQuorlin agent;
        int length = 0;
        ASSERT_EQ(QUORLIN_RESULT_OK, agent.VssStartBackup(source.data(), snapshot.data(), length));
        EXPECT_EQ(QUORLIN_RESULT_OK, agent.VssBackupComplete());
    }
    EXPECT_EQ(Log({"identify 1", "end"}), writers_.Log("other")) << "its path is not in the set";
    EXPECT_FALSE(writers_.Started("foreign")) << "a writer of a user never runs";
    const std::vector<std::string>& lines = traced.results;
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(0u, lines[0].find("Writer " + writers_.Folder() +
                                "/foreign is refused: it belongs to uid 65534, not root."))
        << lines[0];

    // Without writers, none starts.
    ::unlink((writers_.Area() + "/other.log").c_str());
    AddWriter("other", volume + "/db");
    CQuorlin agent;
    int length = 0;
    ASSERT_EQ(QUORLIN_RESULT_OK,
              agent.VssStartBackupNoWriter(source.data(), snapshot.data(), length));
    EXPECT_EQ(QUORLIN_RESULT_OK, agent.VssBackupComplete());
    EXPECT_FALSE(writers_.Started("other"));
    EXPECT_TRUE(NothingStored());
}

TEST_F(WritersOnBtrfsTest, AnOperationWithWritersRunsWhileTheHostWaitsAndStopsWhenCancelled) {
    enum class Stop { kCancel, kAbortBackup, kRelease };
    struct Case {
        const char* what;
        const char* stuckAt;  // the writer's phase that never answers
        Stop stop;
    };
    const Case cases[] = {
        {"Cancel while the writers freeze", "freeze", Stop::kCancel},
        {"Cancel after the set was taken, while the writers thaw", "thaw", Stop::kCancel},
        {"AbortBackup while the writers freeze", "freeze", Stop::kAbortBackup},
        {"the last Release while the writers thaw", "thaw", Stop::kRelease},
    };
    const std::string volume = NewSubvolume("cancelled");
    settings_.bounds = WriterBounds();  // only the cancellation ends the wait
    settings_.bounds.exit = milliseconds(300);
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        ::unlink((writers_.Area() + "/stuck.log").c_str());
        AddWriter("stuck", volume + "/db", {{test.stuckAt, ":"}});
        ComPtr<BackupComponents> components;
        ASSERT_EQ(S_OK, CreateVssBackupComponents(components));
        ASSERT_EQ(S_OK, components->InitializeForBackup(nullptr));
        ComPtr<AsyncOperation> gathered, prepared, async;
        ASSERT_EQ(S_OK, components->GatherWriterMetadata(gathered));
        ASSERT_EQ(S_OK, gathered->Wait(INFINITE));
        VSS_ID setId, snapshotId;
        ASSERT_EQ(S_OK, components->StartSnapshotSet(&setId));
        ASSERT_EQ(S_OK, components->AddToSnapshotSet(FromUtf8(volume + "/").c_str(), GUID_NULL,
                                                     &snapshotId));
        ASSERT_EQ(S_OK, components->PrepareForBackup(prepared));
        ASSERT_EQ(S_OK, prepared->Wait(INFINITE));
        ASSERT_EQ(S_OK, components->DoSnapshotSet(async));

        HRESULT status = S_OK;
        EXPECT_EQ(S_OK, async->Wait(200));
        EXPECT_EQ(S_OK, async->QueryStatus(&status, nullptr));
        EXPECT_EQ(VSS_S_ASYNC_PENDING, status);
        SnapshotProperties properties;
        EXPECT_EQ(VSS_E_BAD_STATE, components->GetSnapshotProperties(snapshotId, &properties));
        ComPtr<AsyncOperation> other;
        EXPECT_EQ(VSS_E_BAD_STATE, components->BackupComplete(other));

        switch (test.stop) {
            case Stop::kCancel:
                EXPECT_EQ(S_OK, async->Cancel());
                EXPECT_EQ(VSS_S_ASYNC_CANCELLED, async->Cancel());
                EXPECT_EQ(S_OK, components->AbortBackup());
                break;
            case Stop::kAbortBackup:
                EXPECT_EQ(S_OK, components->AbortBackup());
                break;
            case Stop::kRelease:
                components.Reset();
                break;
        }
        EXPECT_EQ(S_OK, async->QueryStatus(&status, nullptr));
        EXPECT_EQ(VSS_S_ASYNC_CANCELLED, status);
        EXPECT_EQ(VSS_S_ASYNC_CANCELLED, async->Cancel());
        EXPECT_EQ(Log({"identify 1", "prepare full", "freeze", "thaw", "abort"}),
                  writers_.Log("stuck"));
        EXPECT_FALSE(writers_.GroupAlive("stuck"));
        components.Reset();
        EXPECT_TRUE(NothingStored()) << "the set is rolled back";
    }
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
