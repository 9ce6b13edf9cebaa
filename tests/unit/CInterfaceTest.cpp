// The C interface over the scripted requester: bounded outputs and what a path that
// does not fit leaves held, UTF-8 and wide text, the report of each call, and the
// refusals of missing agents and arguments.
#include "WorkflowFixture.h"

#include "capi/CallReport.h"
#include "capi/quorlin/quorlin.h"
#include "platform/Utf8Text.h"

#include <cstring>
#include <functional>
#include <memory>

namespace quorlin {
namespace testing {
namespace {

using AgentPointer = std::unique_ptr<quorlin_agent, void (*)(quorlin_agent*)>;

class CInterfaceTest : public WorkflowTest {
protected:
    CInterfaceTest() : c(quorlin_agent_new(), quorlin_agent_free) {}

    // The deletion of the snapshot set the requester has made, if any.
    int Deletions() const {
        return static_cast<int>(requester.CallsNamed("DeleteSnapshots").size());
    }
    int Aborts() const { return static_cast<int>(requester.CallsNamed("AbortBackup").size()); }

    const std::string kSource = Native("C:\\Data\\report.doc");
    const std::string kSnapshot = Native("D\\Data\\report.doc");  // 17 bytes
    AgentPointer c;
};

// How a single-path call is given its buffer.
struct BufferCase {
    const char* what;
    bool buffer;  // false: NULL
    size_t size;
    int result;
    const char* written;  // what the buffer holds afterwards
};

TEST_F(CInterfaceTest, ASnapshotPathIsWrittenOnlyWhenItFitsAndStaysHeldWhenItDoesNot) {
    const BufferCase cases[] = {
        {"exact size", true, 18, QUORLIN_OK, nullptr},
        {"one unit short", true, 17, QUORLIN_BUFFER_TOO_SMALL, ""},
        {"one unit", true, 1, QUORLIN_BUFFER_TOO_SMALL, ""},
        {"size 0", true, 0, QUORLIN_BUFFER_TOO_SMALL, "########"},
        {"no buffer", false, 0, QUORLIN_OK, "########"},
    };
    for (const BufferCase& t : cases) {
        SCOPED_TRACE(t.what);
        requester.ClearCalls();
        char buffer[32];
        std::memset(buffer, '#', sizeof buffer);
        buffer[8] = '\0';
        size_t needed = 0;
        EXPECT_EQ(t.result, quorlin_start(c.get(), kSource.c_str(), t.buffer ? buffer : nullptr,
                                          t.size, &needed));
        EXPECT_EQ(18u, needed);
        EXPECT_EQ(t.written ? std::string(t.written) : kSnapshot, std::string(buffer));
        EXPECT_EQ('#', buffer[t.size < 18 ? 18 : 19]);  // nothing beyond
        if (t.result == QUORLIN_BUFFER_TOO_SMALL) {
            EXPECT_EQ("The buffer for snapshot path 0 holds " + std::to_string(t.size) +
                          " units; the path needs 18.",
                      quorlin_last_report(c.get()));
        }
        // Held as after success: no abort, no deletion, one reference, the path again.
        EXPECT_EQ(0, Aborts());
        EXPECT_EQ(0, Deletions());
        EXPECT_EQ(1u, requester.References());
        ASSERT_EQ(1u, quorlin_snapshot_count(c.get()));
        char again[18];
        EXPECT_EQ(QUORLIN_OK, quorlin_snapshot_path(c.get(), 0, again, sizeof again, nullptr));
        EXPECT_EQ(kSnapshot, again);
        EXPECT_EQ(QUORLIN_OK, quorlin_complete(c.get()));
        EXPECT_EQ(1, Deletions());
        EXPECT_EQ(0u, requester.References());
        EXPECT_EQ(0u, quorlin_snapshot_count(c.get()));
        EXPECT_EQ(QUORLIN_REFUSED, quorlin_snapshot_path(c.get(), 0, again, sizeof again, nullptr));
    }
}

TEST_F(CInterfaceTest, AConsoleThatRefusesTheCInterfacesLinesChangesNoResult) {
    g_traceLevel = 4;  // the refusal's step line
    host.consoleFails = true;
    EXPECT_EQ(QUORLIN_REFUSED, quorlin_start(c.get(), kSource.c_str(), nullptr, 8, nullptr));
    EXPECT_STREQ("Invalid parameter.", quorlin_last_report(c.get()));

    g_traceLevel = 2;  // the class writes nothing on success; the C interface's outcome line
    char small[4];
    EXPECT_EQ(QUORLIN_BUFFER_TOO_SMALL,
              quorlin_start(c.get(), kSource.c_str(), small, sizeof small, nullptr));
    EXPECT_EQ(1u, quorlin_snapshot_count(c.get()));
    EXPECT_TRUE(host.consoleBytes[Console()].empty());
}

TEST_F(CInterfaceTest, FreeingAnAgentCompletesTheBackupItHolds) {
    char small[4];
    EXPECT_EQ(QUORLIN_BUFFER_TOO_SMALL,
              quorlin_start(c.get(), kSource.c_str(), small, sizeof small, nullptr));
    c.reset();
    EXPECT_EQ(1u, requester.CallsNamed("BackupComplete()").size());
    EXPECT_EQ(1, Deletions());
    EXPECT_EQ(0u, requester.References());
}

TEST_F(CInterfaceTest, MultiPathCopiesEachPathThatFitsAndHoldsThemAll) {
    const std::string sources[] = {kSource, Native("E:\\mail")};
    const char* paths[] = {sources[0].c_str(), sources[1].c_str()};
    char first[32] = "untouched";
    char second[32] = "untouched";
    char* buffers[] = {first, second};
    const size_t sizes[] = {sizeof first, 6};  // "F\mail" needs 7
    size_t needed[] = {0, 0};
    EXPECT_EQ(QUORLIN_BUFFER_TOO_SMALL,
              quorlin_start_multi(c.get(), paths, 2, buffers, sizes, needed));
    EXPECT_EQ(kSnapshot, first);
    EXPECT_STREQ("", second);
    EXPECT_EQ(18u, needed[0]);
    EXPECT_EQ(7u, needed[1]);
    EXPECT_EQ("The buffer for snapshot path 1 holds 6 units; the path needs 7.",
              std::string(quorlin_last_report(c.get())));
    ASSERT_EQ(2u, quorlin_snapshot_count(c.get()));
    EXPECT_EQ(QUORLIN_OK, quorlin_snapshot_path(c.get(), 1, second, sizeof second, nullptr));
    EXPECT_EQ(Native("F\\mail"), second);
    EXPECT_EQ(QUORLIN_REFUSED, quorlin_snapshot_path(c.get(), 2, second, sizeof second, nullptr));

    // Without buffers every path is left for quorlin_snapshot_path.
    EXPECT_EQ(QUORLIN_OK, quorlin_complete(c.get()));
    EXPECT_EQ(QUORLIN_OK, quorlin_start_multi(c.get(), paths, 2, nullptr, nullptr, nullptr));
    EXPECT_EQ(2u, quorlin_snapshot_count(c.get()));
}

TEST_F(CInterfaceTest, TextIsUtf8OrWideAndSizesCountItsUnits) {
    // C:\Données\é.txt: the class sees the characters, the caller gets them back.
    const std::string source = Native(
        "C:\\Donn\xc3\xa9"
        "es\\\xc3\xa9.txt");
    const std::string snapshot = Native(
        "D\\Donn\xc3\xa9"
        "es\\\xc3\xa9.txt");
    char buffer[64];
    size_t needed = 0;
    ASSERT_EQ(QUORLIN_OK, quorlin_start(c.get(), source.c_str(), buffer, sizeof buffer, &needed));
    EXPECT_EQ(snapshot, buffer);
    EXPECT_EQ(snapshot.size() + 1, needed);  // bytes
    EXPECT_EQ(Native(L"C:\\Donn\u00e9es\\\u00e9.txt"), host.volumeLookups.back());

    const std::wstring wideSource = Native(L"C:\\Donn\u00e9es\\\u00e9.txt");
    const std::wstring wideSnapshot = Native(L"D\\Donn\u00e9es\\\u00e9.txt");
    wchar_t wide[64];
    EXPECT_EQ(QUORLIN_WRONG_SEQUENCE,
              quorlin_start_no_writers_w(c.get(), wideSource.c_str(), wide, 64, &needed));
    EXPECT_EQ(QUORLIN_OK, quorlin_complete(c.get()));
    EXPECT_EQ(QUORLIN_OK,
              quorlin_start_no_writers_w(c.get(), wideSource.c_str(), wide, 64, &needed));
    EXPECT_EQ(wideSnapshot, wide);
    EXPECT_EQ(wideSnapshot.size() + 1, needed);  // wchar_t units
    EXPECT_EQ(QUORLIN_OK, quorlin_snapshot_path_w(c.get(), 0, wide, 64, &needed));
    EXPECT_EQ(QUORLIN_OK, quorlin_snapshot_path(c.get(), 0, buffer, sizeof buffer, &needed));
    EXPECT_EQ(snapshot, buffer);
}

// Text that is not UTF-8: on Windows refused before any work; on Linux, where names are
// bytes, carried to the class as the platform's text carries it and handed back as the very
// bytes.
TEST_F(CInterfaceTest, TextThatIsNotUtf8IsRefusedOrCarriedExactly) {
    const char* const malformed[] = {
        "C:\\\xff",              // no character starts with 0xFF
        "C:\\\xc3",              // cut short
        "C:\\\xc0\xaf",          // "/" in two bytes (overlong)
        "C:\\\xed\xa0\x80",      // a UTF-16 surrogate
        "C:\\\xf4\x90\x80\x80",  // beyond U+10FFFF
        "C:\\a\x80z",            // a continuation byte alone
    };
    for (const char* malformedText : malformed) {
        const std::string text = Native(malformedText);
        SCOPED_TRACE(::testing::PrintToString(text));
        std::wstring wide;
        const bool carried = WideFromUtf8(text.c_str(), wide);  // the platform's own policy
        requester.ClearCalls();
        const char* multi[] = {kSource.c_str(), text.c_str()};
        char buffer[64];
        if (carried) {
            ASSERT_EQ(QUORLIN_OK,
                      quorlin_start(c.get(), text.c_str(), buffer, sizeof buffer, nullptr));
            EXPECT_EQ(wide, host.volumeLookups.back());
            EXPECT_EQ("D" + text.substr(2), buffer);
            EXPECT_EQ(QUORLIN_OK, quorlin_complete(c.get()));
            continue;
        }
        EXPECT_EQ(QUORLIN_REFUSED, quorlin_start(c.get(), text.c_str(), nullptr, 0, nullptr));
        EXPECT_STREQ("Invalid parameter.", quorlin_last_report(c.get()));
        EXPECT_EQ(QUORLIN_REFUSED,
                  quorlin_start_multi(c.get(), multi, 2, nullptr, nullptr, nullptr));
        EXPECT_TRUE(requester.Calls().empty());
    }
}

// One call and what it leaves as its report.
struct ReportCase {
    const char* what;
    int verbosity;
    const char* failingCall;  // scripted to fail with failure.hr; null: none
    HRESULT hr;
    bool holdFirst;  // a backup is held before the call
    int (*call)(quorlin_agent* agent, const char* source);
    int result;
    const char* report;
    unsigned long code;
    int site;
    const char* explanation;  // null: the one of `code` alone (quorlin_explain_code)
};

int Start(quorlin_agent* agent, const char* source) {
    return quorlin_start(agent, source, nullptr, 0, nullptr);
}
int StartNoWriters(quorlin_agent* agent, const char* source) {
    return quorlin_start_no_writers(agent, source, nullptr, 0, nullptr);
}
int StartNull(quorlin_agent* agent, const char*) {
    return quorlin_start(agent, nullptr, nullptr, 0, nullptr);
}
int Complete(quorlin_agent* agent, const char*) { return quorlin_complete(agent); }
// A start on a path that the host says does not exist.
int StartMissing(quorlin_agent* agent, const char*) {
    return quorlin_start(agent, "missing", nullptr, 0, nullptr);
}
// A null path after one that does not exist: the null one is refused first.
int StartMissingAndNull(quorlin_agent* agent, const char*) {
    const char* paths[] = {"missing", nullptr};
    return quorlin_start_multi(agent, paths, 2, nullptr, nullptr, nullptr);
}

TEST_F(CInterfaceTest, EveryCallLeavesItsReportLineWhateverTheVerbosity) {
    const ReportCase cases[] = {
        {"volume refused", 0, "AddToSnapshotSet", VSS_E_VOLUME_NOT_SUPPORTED, false, Start,
         QUORLIN_FAILED, "There was a COM failure 0x8004230c - .\\QuorlinClass (505)", 0x8004230C,
         505, nullptr},
        {"volume refused, steps traced", 4, "AddToSnapshotSet", VSS_E_VOLUME_NOT_SUPPORTED, false,
         Start, QUORLIN_FAILED, "There was a COM failure 0x8004230c - .\\QuorlinClass (505)",
         0x8004230C, 505, nullptr},
        {"no components", 0, "CreateVssBackupComponents", E_ACCESSDENIED, false, StartNoWriters,
         QUORLIN_FAILED, "There was a COM failure 0x80070005 - .\\QuorlinClass (145)", 0x80070005,
         145, nullptr},
        {"writers failed to prepare", 0, "PrepareForBackup.QueryStatus", VSS_E_UNEXPECTED, false,
         Start, QUORLIN_FAILED, "There was a COM failure 0x80042302 - .\\QuorlinClass (558)",
         0x80042302, 558,
         "The snapshot service reported error 0x80042302; a trace of every step shows where it "
         "failed."},
        {"success", 0, nullptr, S_OK, false, Start, QUORLIN_OK, "", 0, 0, ""},
        {"completed", 0, nullptr, S_OK, true, Complete, QUORLIN_OK,
         "Backup successfully completed.", 0, 0, ""},
        {"nothing to complete", 0, nullptr, S_OK, false, Complete, QUORLIN_REFUSED, "Invalid data.",
         0, 0,
         "There is no backup to complete; start a backup first (a start call that failed has "
         "cleaned up already)."},
        {"held", 0, nullptr, S_OK, true, StartNoWriters, QUORLIN_WRONG_SEQUENCE,
         "Wrong calling sequence, call VssCompleteBackup first.", 0, 0,
         "The library refused: a backup is already in progress; complete the backup in progress "
         "first."},
        {"no path", 0, nullptr, S_OK, false, StartNull, QUORLIN_REFUSED, "Invalid parameter.", 0, 0,
         "The library refused an argument of the call (a missing path or buffer, or text that is "
         "not UTF-8); pass every path and buffer that the call needs."},
        {"path does not exist", 0, nullptr, S_OK, false, StartMissing, QUORLIN_REFUSED,
         "The path does not exist.", 0x80070002, 0, nullptr},
        {"a null path among them", 0, nullptr, S_OK, false, StartMissingAndNull, QUORLIN_REFUSED,
         "Invalid parameter.", 0, 0,
         "The library refused an argument of the call (a missing path or buffer, or text that is "
         "not UTF-8); pass every path and buffer that the call needs."},
    };
    host.missingPaths.push_back(L"missing");
    for (const ReportCase& t : cases) {
        SCOPED_TRACE(t.what);
        c.reset(quorlin_agent_new());
        if (t.holdFirst)
            ASSERT_EQ(QUORLIN_OK, Start(c.get(), kSource.c_str()));
        else  // the report of an earlier call goes
            ASSERT_EQ(QUORLIN_REFUSED, Complete(c.get(), nullptr));
        if (t.failingCall)
            requester.Fail(t.failingCall, t.hr);
        g_traceLevel = t.verbosity;
        EXPECT_EQ(t.result, t.call(c.get(), kSource.c_str()));
        EXPECT_STREQ(t.report, quorlin_last_report(c.get()));
        EXPECT_EQ(t.code, quorlin_last_error_code(c.get()));
        EXPECT_EQ(t.site, quorlin_last_error_site(c.get()));
        EXPECT_STREQ(t.explanation ? t.explanation : quorlin_explain_code(t.code),
                     quorlin_last_explanation(c.get()));
        requester.Fail(t.failingCall ? t.failingCall : "none", S_OK);
        g_traceLevel = 4;
    }
}

int StartMulti(quorlin_agent* agent, const char* source) {
    const std::string other = Native("E:\\mail");
    const char* paths[] = {source, other.c_str()};
    return quorlin_start_multi(agent, paths, 2, nullptr, nullptr, nullptr);
}

// A start that fails after VSS made its components object but before any snapshot
// holds nothing afterwards: the object is let go at once, completion is refused as
// when nothing was started, and neither completion nor freeing the agent calls VSS
// again.
TEST_F(CInterfaceTest, AFailedStartLeavesNothingToComplete) {
    const struct {
        const char* failingCall;
        int (*start)(quorlin_agent* agent, const char* source);
    } cases[] = {
        {"AddToSnapshotSet", Start},
        {"SetContext", StartNoWriters},
        {"PrepareForBackup.QueryStatus", StartMulti},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.failingCall);
        c.reset(quorlin_agent_new());
        requester.ClearCalls();
        requester.Fail(t.failingCall, VSS_E_UNEXPECTED);
        EXPECT_EQ(QUORLIN_FAILED, t.start(c.get(), kSource.c_str()));
        requester.Fail(t.failingCall, S_OK);
        EXPECT_EQ(1, Aborts());
        EXPECT_EQ(0u, requester.References());
        EXPECT_EQ(0u, quorlin_snapshot_count(c.get()));

        requester.ClearCalls();
        EXPECT_EQ(QUORLIN_REFUSED, quorlin_complete(c.get()));
        EXPECT_STREQ("Invalid data.", quorlin_last_report(c.get()));
        c.reset();
        EXPECT_EQ(std::vector<std::string>(), requester.Calls());
    }
}

// A set whose deletion failed, at a failed start or at completion, is deleted by the
// next completion.
TEST_F(CInterfaceTest, ASetThatRemainsIsDeletedByTheNextCompletion) {
    const struct {
        const char* what;
        const char* failingCall;  // besides DeleteSnapshots
        int (*start)(quorlin_agent* agent, const char* source);
        int startResult;
        const char* report;  // of the completion that deletes the set
    } cases[] = {
        {"failed start", "DoSnapshotSet.QueryStatus", StartNoWriters, QUORLIN_FAILED,
         "The snapshot set of the failed backup was deleted."},
        {"failed completion", "none", StartNoWriters, QUORLIN_OK, "Backup successfully completed."},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.what);
        c.reset(quorlin_agent_new());
        requester.Fail(t.failingCall, VSS_E_UNEXPECTED);
        requester.Fail("DeleteSnapshots", E_ACCESSDENIED);
        EXPECT_EQ(t.startResult, t.start(c.get(), kSource.c_str()));
        if (t.startResult == QUORLIN_OK) {
            EXPECT_EQ(QUORLIN_FAILED, quorlin_complete(c.get()));
            EXPECT_STREQ(
                "The snapshot set could not be deleted, error 0x80070005: its snapshots remain.",
                quorlin_last_report(c.get()));
        }
        requester.Fail(t.failingCall, S_OK);
        requester.Fail("DeleteSnapshots", S_OK);
        requester.ClearCalls();
        EXPECT_EQ(QUORLIN_OK, quorlin_complete(c.get()));
        EXPECT_STREQ(t.report, quorlin_last_report(c.get()));
        EXPECT_EQ(1, Deletions());
        c.reset();
        EXPECT_EQ(0u, requester.References());
    }
}

// The held paths are the class's held backup's: a call that fails before it changes
// anything (here the calling-sequence warning cannot be written) leaves both held.
TEST_F(CInterfaceTest, AFailureThatLeavesTheBackupHeldKeepsItsPaths) {
    ASSERT_EQ(QUORLIN_OK, Start(c.get(), kSource.c_str()));
    const std::string other = Native("E:\\mail");
    g_traceLevel = 4;
    host.consoleFails = true;
    EXPECT_EQ(QUORLIN_FAILED, Start(c.get(), other.c_str()));
    host.consoleFails = false;
    ASSERT_EQ(1u, quorlin_snapshot_count(c.get()));
    char path[32];
    EXPECT_EQ(QUORLIN_OK, quorlin_snapshot_path(c.get(), 0, path, sizeof path, nullptr));
    EXPECT_EQ(kSnapshot, path);
    EXPECT_EQ(QUORLIN_OK, quorlin_complete(c.get()));
}

TEST_F(CInterfaceTest, AMissingAgentOrArgumentIsRefused) {
    char buffer[8];
    const char* none[] = {nullptr};
    const char* one[] = {kSource.c_str()};
    char* buffers[] = {nullptr};
    const size_t sizes[] = {8};
    size_t needed = 5;
    const int refusals[] = {
        quorlin_start(nullptr, kSource.c_str(), buffer, sizeof buffer, &needed),
        quorlin_start_no_writers(nullptr, kSource.c_str(), buffer, sizeof buffer, &needed),
        quorlin_start_multi(nullptr, one, 1, nullptr, nullptr, nullptr),
        quorlin_start_w(nullptr, L"x", nullptr, 0, &needed),
        quorlin_start_no_writers_w(nullptr, L"x", nullptr, 0, &needed),
        quorlin_start_multi_w(nullptr, nullptr, 0, nullptr, nullptr, nullptr),
        quorlin_snapshot_path(nullptr, 0, buffer, sizeof buffer, &needed),
        quorlin_snapshot_path_w(nullptr, 0, nullptr, 0, &needed),
        quorlin_complete(nullptr),
        quorlin_set_backup_type(nullptr, 2),
        quorlin_set_verbosity(nullptr, 2),
        quorlin_set_trace_console(nullptr, nullptr),
        quorlin_set_trace_callback(nullptr, nullptr, nullptr),
        // With an agent: a missing path, a path array, or a buffer of a size.
        quorlin_start(c.get(), nullptr, buffer, sizeof buffer, &needed),
        quorlin_start(c.get(), kSource.c_str(), nullptr, 8, &needed),
        quorlin_start_multi(c.get(), none, 1, nullptr, nullptr, &needed),
        quorlin_start_multi(c.get(), nullptr, 1, nullptr, nullptr, &needed),
        quorlin_start_multi(c.get(), one, 1, buffers, sizes, &needed),
        quorlin_start_multi(c.get(), one, 1, buffers, nullptr, &needed),
        quorlin_start_w(c.get(), nullptr, nullptr, 0, &needed),
    };
    for (size_t i = 0; i < sizeof refusals / sizeof refusals[0]; ++i)
        EXPECT_EQ(QUORLIN_REFUSED, refusals[i]) << "call " << i;
    EXPECT_EQ(5u, needed);
    EXPECT_TRUE(requester.Calls().empty());
    EXPECT_STREQ("", quorlin_last_report(nullptr));
    EXPECT_EQ(0u, quorlin_last_error_code(nullptr));
    EXPECT_EQ(0, quorlin_last_error_site(nullptr));
    EXPECT_STREQ("", quorlin_last_explanation(nullptr));
    EXPECT_EQ(0u, quorlin_snapshot_count(nullptr));
    quorlin_agent_free(nullptr);
}

TEST_F(CInterfaceTest, SettingsReachTheClassAndTheConsoleCanBeRemoved) {
    EXPECT_EQ(QUORLIN_OK, quorlin_set_backup_type(c.get(), QUORLIN_BACKUP_INCREMENTAL));
    EXPECT_EQ(QUORLIN_OK, Start(c.get(), kSource.c_str()));
    EXPECT_EQ(1u, requester.CallsNamed("SetBackupState(1,0,2,0)").size());

    EXPECT_EQ(QUORLIN_OK, quorlin_set_verbosity(c.get(), QUORLIN_TRACE_NONE));
    EXPECT_EQ(0, g_traceLevel);  // zero is a verbosity here, not "unchanged"
    EXPECT_EQ(QUORLIN_OK, quorlin_set_trace_console(c.get(), nullptr));
    EXPECT_EQ(nullptr, g_traceConsole);
    const HANDLE console = reinterpret_cast<HANDLE>(static_cast<intptr_t>(9));
    EXPECT_EQ(QUORLIN_OK, quorlin_set_trace_console(c.get(), console));
    EXPECT_EQ(console, g_traceConsole);
}

TEST_F(CInterfaceTest, VersionAndResultTexts) {
    EXPECT_STREQ(QUORLIN_VERSION_STRING, quorlin_version());
    EXPECT_EQ(QUORLIN_VERSION_MAJOR * 10000 + QUORLIN_VERSION_MINOR * 100 + QUORLIN_VERSION_PATCH,
              QUORLIN_VERSION_NUMBER);
    // The class's results keep their values.
    EXPECT_EQ(QUORLIN_RESULT_OK, QUORLIN_OK);
    EXPECT_EQ(QUORLIN_RESULT_FAILED, QUORLIN_FAILED);
    EXPECT_EQ(QUORLIN_RESULT_WRONG_SEQUENCE, QUORLIN_WRONG_SEQUENCE);
    EXPECT_EQ(QUORLIN_RESULT_REFUSED, QUORLIN_REFUSED);
    for (int result : {QUORLIN_OK, QUORLIN_FAILED, QUORLIN_BUFFER_TOO_SMALL, QUORLIN_WRONG_SEQUENCE,
                       QUORLIN_REFUSED})
        EXPECT_STRNE("", quorlin_result_text(result)) << result;
    EXPECT_STREQ("", quorlin_result_text(3));
}

void QUORLIN_CALL CountHeld(void* context, const quorlin_held_snapshot*) {
    ++*static_cast<int*>(context);
}

TEST(CInterfaceHeldTest, MalformedArgumentsAreRefusedBeforeAnyWork) {
    const unsigned long kInvalidArgument = 0x80070057;
    const char notUtf8[] = {'/', char(0xC3), char(0x28), 0};
    std::wstring wide;
    // Where names are bytes the path is taken, and it names nothing.
    const unsigned long kNotUtf8 = WideFromUtf8(notUtf8, wide) ? 0x80042308 : kInvalidArgument;
    int seen = 0;
    EXPECT_EQ(kInvalidArgument, quorlin_held_list(nullptr, nullptr, &seen));
    EXPECT_EQ(kNotUtf8, quorlin_held_list(notUtf8, CountHeld, &seen));
    EXPECT_EQ(0, seen);
    const struct {
        const char* path;
        const char* setId;
        unsigned long refused;
    } cases[] = {
        {nullptr, "", kInvalidArgument},
        {nullptr, "0f1e2d3c-4b5a-4968-8776-a5b4c3d2e1f", kInvalidArgument},
        {nullptr, "{0f1e2d3c-4b5a-4968-8776-a5b4c3d2e1f0}", kInvalidArgument},
        {nullptr, "0f1e2d3c-4b5a-4968-8776-a5b4c3d2e1fg", kInvalidArgument},
        {notUtf8, "0f1e2d3c-4b5a-4968-8776-a5b4c3d2e1f0", kNotUtf8},
        {notUtf8, nullptr, kNotUtf8},
    };
    for (const auto& c : cases) {
        long deleted = -1;
        EXPECT_EQ(c.refused, quorlin_held_delete(c.path, c.setId, &deleted))
            << (c.setId ? c.setId : "(orphans)");
        EXPECT_EQ(0, deleted);
    }
}

void QUORLIN_CALL CollectPhase(void* context, int phase) {
    static_cast<std::vector<int>*>(context)->push_back(phase);
}

// Each call's phases reach the phase callback as they begin, whatever the verbosity, until
// it is removed.
TEST_F(CInterfaceTest, ThePhaseCallbackGetsEachPhaseOfACallAsItBegins) {
    g_traceLevel = 0;
    std::vector<int> phases;
    ASSERT_EQ(QUORLIN_OK, quorlin_set_phase_callback(c.get(), CollectPhase, &phases));
    EXPECT_EQ(QUORLIN_OK, StartMulti(c.get(), kSource.c_str()));
    EXPECT_EQ(QUORLIN_OK, quorlin_complete(c.get()));
    EXPECT_EQ(QUORLIN_OK, StartNoWriters(c.get(), kSource.c_str()));
    EXPECT_EQ((std::vector<int>{
                  QUORLIN_PHASE_GATHER_WRITERS, QUORLIN_PHASE_ADD_VOLUMES, QUORLIN_PHASE_PREPARE,
                  QUORLIN_PHASE_SNAPSHOT, QUORLIN_PHASE_SNAPSHOT_PATHS, QUORLIN_PHASE_COMPLETE,
                  QUORLIN_PHASE_ADD_VOLUMES, QUORLIN_PHASE_SNAPSHOT, QUORLIN_PHASE_SNAPSHOT_PATHS}),
              phases);
    ASSERT_EQ(QUORLIN_OK, quorlin_set_phase_callback(c.get(), nullptr, nullptr));
    EXPECT_EQ(QUORLIN_OK, quorlin_complete(c.get()));
    EXPECT_EQ(9u, phases.size());
    EXPECT_EQ(QUORLIN_REFUSED, quorlin_set_phase_callback(nullptr, CollectPhase, &phases));
    g_traceLevel = 4;
}

// The report keeps the facts of the line it keeps: none for a later line that told of no
// failure, the refusal's only for a refused call.
TEST(CallReportTest, TheKeptLineComesWithItsOwnFacts) {
    const FailureFacts com = {FailureKind::kCom, 0x8004230C, 505, {}};
    const FailureFacts refusal = {FailureKind::kInvalidArgument, 0, 0, {}};
    const struct {
        std::function<void()> trace;
        int result;
        FailureKind kind;
    } cases[] = {
        {[&] { TraceFailure(L"failed", com); }, QUORLIN_FAILED, FailureKind::kCom},
        {[&] { TraceFailure(L"failed", com), Trace(L"later", TRACE_LEVEL_RESULT); }, QUORLIN_FAILED,
         FailureKind::kNone},
        {[&] { TraceFailure(L"no", refusal, TRACE_LEVEL_DETAIL); }, QUORLIN_REFUSED,
         FailureKind::kInvalidArgument},
        {[&] { TraceFailure(L"no", refusal, TRACE_LEVEL_DETAIL), TraceDetail(L"step"); },
         QUORLIN_REFUSED, FailureKind::kNone},
        {[&] { TraceFailure(L"no", refusal, TRACE_LEVEL_DETAIL); }, QUORLIN_FAILED,
         FailureKind::kNone},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        capi::CallReport report;
        cases[i].trace();
        EXPECT_EQ(cases[i].kind, report.Facts(cases[i].result).kind) << "case " << i;
    }
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
