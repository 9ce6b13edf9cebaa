// The built quorlin.exe over the stand-in VSS under Wine: `snapshot -- COMMAND` and
// `copy` read the content of the instant of the snapshot while the live files
// change, and a failure names its site and leaves no snapshot behind. The live
// files change while the stand-in holds DoSnapshotSet paused, after its copy.
#include "StandInSession.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace {

using standin::LiveFolder;
using standin::OutputFile;
using standin::Pause;
using standin::ReadBytes;
using standin::StandInSession;
using standin::WriteBytes;

struct Outcome {
    DWORD exit = ~0u;
    std::string output;  // standard output, without CRs
    std::string errors;  // standard error, without CRs
};

std::string WithoutCarriageReturns(std::string text) {
    std::string kept;
    for (char c : text)
        if (c != '\r')
            kept.push_back(c);
    return kept;
}

std::wstring Here() {
    wchar_t self[MAX_PATH + 1];
    std::wstring path(self, ::GetModuleFileNameW(nullptr, self, MAX_PATH + 1));
    return path.substr(0, path.rfind(L'\\'));
}

// Runs quorlin.exe with `arguments` (standard input empty) to its end, at most two minutes;
// with `killOnceHeld`, kills it as soon as it has printed a line (it holds a snapshot).
Outcome RunQuorlin(const std::wstring& arguments, bool killOnceHeld = false) {
    OutputFile output(true);
    OutputFile errors(true);
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE input = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inherited, OPEN_EXISTING, 0, nullptr);
    std::wstring commandLine = L"\"" + Here() + L"\\quorlin\\quorlin.exe\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output.Handle();
    startup.hStdError = errors.Handle();
    PROCESS_INFORMATION process = {};
    Outcome outcome;
    if (::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                         &startup, &process)) {
        ::CloseHandle(process.hThread);
        for (int wait = 0; killOnceHeld && wait < 1200; ++wait) {
            if (output.Text().find('\n') != std::string::npos ||
                ::WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0)
                break;
        }
        if (killOnceHeld)
            ::TerminateProcess(process.hProcess, 9);
        if (::WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0)
            ::TerminateProcess(process.hProcess, ~0u);
        ::GetExitCodeProcess(process.hProcess, &outcome.exit);
        ::CloseHandle(process.hProcess);
    }
    ::CloseHandle(input);
    outcome.output = WithoutCarriageReturns(output.Text());
    outcome.errors = WithoutCarriageReturns(errors.Text());
    return outcome;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::string Original(const std::wstring& file) { return "as it was: " + Narrow(file) + "\r\n"; }

// Writes the original content of `files`; once DoSnapshotSet has paused, `change`
// runs and the call goes on. Join the thread before checking.
std::thread ChangeWhilePaused(Pause& pause, std::vector<std::wstring> files, void (*change)()) {
    for (const std::wstring& file : files)
        EXPECT_TRUE(WriteBytes(file, Original(file)));
    return std::thread([&pause, change] {
        EXPECT_TRUE(pause.WaitUntilPaused(60000));
        change();
        pause.Resume();
    });
}

// Everything quorlin was given came back, and no snapshot is left.
void ExpectNothingLeft(const StandInSession& session) {
    EXPECT_EQ(0u, session.SnapshotsInStore());
    EXPECT_EQ(std::vector<std::string>(), session.Unreleased());
}

const wchar_t kLive[] = L"C:\\quorlin-tool";
const wchar_t kLiveOnD[] = L"D:\\quorlin-tool";

void ChangeLiveFiles() {
    WriteBytes(std::wstring(kLive) + L"\\live.txt", "changed");
    WriteBytes(std::wstring(kLiveOnD) + L"\\other.txt", "changed");
}

struct SnapshotCase {
    const char* name;
    const wchar_t* options;
    std::vector<std::wstring> sources;
    const wchar_t* command;
    size_t typed;  // the source whose snapshot path the command types
    bool withWriters;
};

TEST(ToolOnStandInTest, SnapshotRunsTheCommandOnFrozenContent) {
    const std::wstring live = std::wstring(kLive) + L"\\live.txt";
    const std::wstring other = std::wstring(kLiveOnD) + L"\\other.txt";
    const SnapshotCase cases[] = {
        {"with writers", L"", {live}, L"cmd /c type {}", 0, true},
        {"without writers", L"--no-writers ", {live}, L"cmd /c type {}", 0, false},
        {"two volumes", L"", {live, other}, L"cmd /c type {2}", 1, true},
    };
    for (const SnapshotCase& c : cases) {
        SCOPED_TRACE(c.name);
        StandInSession session;
        LiveFolder onC(kLive);
        LiveFolder onD(kLiveOnD);
        session.Freeze(onC.Path());
        session.Freeze(onD.Path());
        Pause pause(session, L"DoSnapshotSet");
        std::wstring arguments = std::wstring(c.options) + L"snapshot";
        for (const std::wstring& source : c.sources)
            arguments += L" " + source;
        std::thread changer = ChangeWhilePaused(pause, c.sources, ChangeLiveFiles);
        const Outcome outcome = RunQuorlin(arguments + L" -- " + c.command);
        changer.join();

        EXPECT_EQ(0u, outcome.exit) << outcome.errors;
        const std::string typed = WithoutCarriageReturns(Original(c.sources[c.typed]));
        // Each line, on standard error beside the command: the source, a tab, the snapshot
        // path, which ends as the source does. Standard output is the command's.
        size_t at = 0;
        for (const std::wstring& source : c.sources) {
            const std::string head = Narrow(source) + "\t\\\\?\\" + Narrow(session.Store()) + "\\";
            const std::string tail = Narrow(source.substr(3)) + "\n";
            EXPECT_EQ(head, outcome.errors.substr(at, head.size()));
            at = outcome.errors.find('\n', at) + 1;
            EXPECT_EQ(tail, outcome.errors.substr(at - tail.size(), tail.size()));
        }
        EXPECT_EQ(typed, outcome.output);
        EXPECT_EQ("changed", ReadBytes(c.sources[c.typed]));
        EXPECT_EQ(c.withWriters ? 0u : 1u,
                  session.LinesStarting("SetContext 25 -> 0x00000000").size());
        EXPECT_EQ(1u, session.LinesStarting("DeleteSnapshots ").size());
        EXPECT_EQ(1u, session.LinesStarting("BackupComplete -> 0x00000000").size());
        ExpectNothingLeft(session);
    }
}

void ChangeTree() {
    const std::wstring tree = std::wstring(kLive) + L"\\tree";
    WriteBytes(tree + L"\\a.txt", "changed");
    ::DeleteFileW((tree + L"\\sub\\b.txt").c_str());
    WriteBytes(tree + L"\\new.txt", "made after the snapshot");
}

struct CopyCase {
    const char* name;
    const wchar_t* source;
    const wchar_t* destination;        // under C:\quorlin-copy, which exists
    std::vector<std::wstring> copied;  // below C:\quorlin-copy: each as it was
    std::vector<std::wstring> absent;  // below C:\quorlin-copy
};

TEST(ToolOnStandInTest, CopyReadsTheFrozenContent) {
    const CopyCase cases[] = {
        {"a file into a folder", L"tree\\a.txt", L"", {L"a.txt"}, {L"sub"}},
        {"a folder", L"tree", L"\\copy", {L"copy\\a.txt", L"copy\\sub\\b.txt"}, {L"copy\\new.txt"}},
    };
    for (const CopyCase& c : cases) {
        SCOPED_TRACE(c.name);
        StandInSession session;
        LiveFolder live(kLive);
        LiveFolder out(L"C:\\quorlin-copy");
        session.Freeze(live.Path());
        ASSERT_TRUE(::CreateDirectoryW((live / L"tree").c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW((live / L"tree\\sub").c_str(), nullptr));
        Pause pause(session, L"DoSnapshotSet");
        const std::vector<std::wstring> files = {live / L"tree\\a.txt", live / L"tree\\sub\\b.txt"};
        std::thread changer = ChangeWhilePaused(pause, files, ChangeTree);
        const Outcome outcome =
            RunQuorlin(L"copy " + (live / c.source) + L" " + out.Path() + c.destination);
        changer.join();

        EXPECT_EQ(0u, outcome.exit) << outcome.errors;
        EXPECT_EQ("", outcome.output);
        for (const std::wstring& copied : c.copied) {
            const std::wstring name =
                copied.substr(copied.find(L"\\") == std::wstring::npos ? 0 : 5);
            EXPECT_EQ(Original(live / (L"tree\\" + name)), ReadBytes(out / copied))
                << Narrow(copied);
        }
        for (const std::wstring& absent : c.absent)
            EXPECT_FALSE(standin::Exists(out / absent)) << Narrow(absent);
        EXPECT_EQ("changed", ReadBytes(live / L"tree\\a.txt"));
        ExpectNothingLeft(session);
    }
}

struct FailureCase {
    const wchar_t* arguments;
    const wchar_t* script;
    const char* errors;  // the start of standard error
    bool aborts;         // the stand-in saw AbortBackup
    bool deletes;        // and DeleteSnapshots
};

TEST(ToolOnStandInTest, AFailureNamesItsSiteAndLeavesNoSnapshot) {
    const FailureCase cases[] = {
        {L"-v snapshot C:\\quorlin-tool\\live.txt", L"AddToSnapshotSet=0x8004230c",
         "There was a COM failure 0x8004230c - .\\QuorlinClass (505)\n"
         "quorlin: could not take a snapshot of C:\\quorlin-tool\\live.txt: the volume does not "
         "support snapshots",
         true, false},
        {L"-v copy C:\\quorlin-tool\\live.txt C:\\quorlin-tool\\copy.txt",
         L"DoSnapshotSet.QueryStatus=0x80042302",
         "There was a COM failure 0x80042302 - .\\QuorlinClass (577)\nquorlin: could not take "
         "a snapshot of C:\\quorlin-tool\\live.txt",
         true, true},
        {L"-v --timeout 2 snapshot C:\\quorlin-tool\\live.txt -- cmd /c type {}",
         L"DoSnapshotSet.Status=pending",
         "There was a COM failure 0x800705b4 - .\\QuorlinClass (572)\nquorlin: could not take "
         "a snapshot of C:\\quorlin-tool\\live.txt: a step of the snapshot took longer than the "
         "time limit and was cancelled",
         true, true},
        {L"-v --no-writers snapshot C:\\quorlin-tool\\live.txt -- cmd /c type {}",
         L"BackupComplete.Status=0x800423f4",
         "Completion of backup failed.\nquorlin: could not "
         "complete the backup",
         false, true},
        {L"--retry 1 snapshot C:\\quorlin-tool\\live.txt", L"StartSnapshotSet=0x80042316",
         "quorlin: another snapshot is being taken; wait a moment and try again. Trying again in "
         "1 s (retry 1 of 1).\n"
         "quorlin: could not take a snapshot of C:\\quorlin-tool\\live.txt in 2 tries: another "
         "snapshot is being taken; wait a moment and try again.",
         true, false},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "script " << c.script);
        StandInSession session;
        LiveFolder live(kLive);
        session.Freeze(live.Path());
        ASSERT_TRUE(WriteBytes(live / L"live.txt", "as it was"));
        session.Script(c.script);
        const Outcome outcome = RunQuorlin(c.arguments);

        EXPECT_EQ(1u, outcome.exit);
        // Beside a command the snapshot line comes first, on standard error.
        std::string errors = outcome.errors;
        if (errors.find('\t') < errors.find('\n'))
            errors.erase(0, errors.find('\n') + 1);
        EXPECT_EQ(c.errors, errors.substr(0, std::string(c.errors).size())) << outcome.errors;
        EXPECT_EQ(c.aborts, !session.LinesStarting("AbortBackup ").empty());
        EXPECT_EQ(c.deletes, !session.LinesStarting("DeleteSnapshots ").empty());
        EXPECT_FALSE(standin::Exists(live / L"copy.txt"));
        ExpectNothingLeft(session);
    }
}

TEST(ToolOnStandInTest, ListAndDeleteTheHeldSetsThroughVss) {
    StandInSession session;
    LiveFolder live(kLive);
    LiveFolder onD(kLiveOnD);
    session.Freeze(live.Path());
    const std::wstring file = live / L"held.txt";
    ASSERT_TRUE(WriteBytes(file, "held"));
    // A persistent set whose quorlin was killed while it held it.
    RunQuorlin(L"--no-writers snapshot " + file, true);
    ASSERT_EQ(1u, session.SnapshotsInStore());

    const Outcome listed = RunQuorlin(L"list " + live.Path());
    EXPECT_EQ(0u, listed.exit) << listed.errors;
    const std::string set = listed.output.substr(0, listed.output.find('\t'));
    ASSERT_EQ(36u, set.size()) << listed.output;
    const std::string fields = set + "\tC:\\\tpersistent\tunknown\t";
    EXPECT_EQ(fields, listed.output.substr(0, fields.size()));
    EXPECT_EQ(1, std::count(listed.output.begin(), listed.output.end(), '\n'));
    EXPECT_EQ(1u, session.LinesStarting("Query ").size());

    const struct {
        const char* name;
        std::wstring arguments;
        DWORD exit;
        std::string output;
        std::string errorStart;
        size_t left;
    } cases[] = {
        {"another volume holds none", L"list " + onD.Path(), 0, "", "", 1},
        {"orphans: VSS releases them itself", L"delete --orphans", 0,
         "quorlin: deleted 0 snapshots.\n", "", 1},
        {"no such set", L"delete 00000000-0000-4000-8000-000000000000", 1, "",
         "quorlin: could not delete snapshot set 00000000-0000-4000-8000-000000000000: no such "
         "set is held",
         1},
        {"the set on another volume",
         L"delete " + std::wstring(set.begin(), set.end()) + L" " + onD.Path(), 1, "",
         "quorlin: could not delete snapshot set " + set + " on the volume of D:", 1},
        {"the set", L"delete " + std::wstring(set.begin(), set.end()), 0,
         "quorlin: deleted 1 snapshot.\n", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = RunQuorlin(c.arguments);
        EXPECT_EQ(c.exit, outcome.exit);
        EXPECT_EQ(c.output, outcome.output);
        EXPECT_EQ(c.errorStart, outcome.errors.substr(0, c.errorStart.size()));
        EXPECT_EQ(c.left, session.SnapshotsInStore());
    }
}

// --json and --timings work on Windows too: the set with each path's volume, the
// failure with its report line, and the phases on standard error.
TEST(ToolOnStandInTest, JsonAndTimingsAnswerForScripts) {
    const struct {
        const wchar_t* arguments;
        const wchar_t* script;
        DWORD exit;
        std::vector<std::string> output;  // pieces of the answer, in this order
        const char* phase;                // a line of --timings on standard error
        const char* commandOutput;        // standard output, the command's; null: no command
    } cases[] = {
        {L"--json --timings snapshot C:\\quorlin-tool\\live.txt D:\\quorlin-tool\\other.txt -- "
         L"cmd /c echo ran",
         L"",
         0,
         {"{\"ok\":true,\"set\":\"", "\"paths\":[{\"source\":\"C:\\\\quorlin-tool\\\\live.txt\"",
          "live.txt\",\"volume\":\"C:\\\\\"}", "other.txt\",\"volume\":\"D:\\\\\"}],",
          // VSS's set is one instant.
          "\"instant\":{\"file_systems\":2,\"one_transaction\":2,\"whole_set\":true,\"tries\":1,"
          "\"window_ms\":0.00}}\n"},
         "quorlin: timings: snapshot taken ",
         "ran\n"},
        {L"snapshot --json --timings C:\\quorlin-tool\\live.txt",
         L"AddToSnapshotSet=0x8004230c",
         1,
         {"{\"ok\":false,\"exit\":1,\"result\":1,\"code\":\"0x8004230c\",\"report\":\"There was a "
          "COM failure 0x8004230c - .\\\\QuorlinClass (505)\",\"sentence\":\"could not take a "
          "snapshot of C:\\\\quorlin-tool\\\\live.txt: the volume does not support snapshots"},
         "quorlin: timings: volumes added ",
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.arguments));
        StandInSession session;
        LiveFolder onC(kLive);
        LiveFolder onD(kLiveOnD);
        session.Freeze(onC.Path());
        session.Freeze(onD.Path());
        ASSERT_TRUE(WriteBytes(onC / L"live.txt", "live"));
        ASSERT_TRUE(WriteBytes(onD / L"other.txt", "other"));
        if (*c.script)
            session.Script(c.script);
        const Outcome outcome = RunQuorlin(c.arguments);

        EXPECT_EQ(c.exit, outcome.exit) << outcome.errors;
        // Beside a command the answer is on standard error, before the timings.
        const std::string& answer = c.commandOutput ? outcome.errors : outcome.output;
        if (c.commandOutput) {
            EXPECT_EQ(c.commandOutput, outcome.output);
        }
        size_t at = 0;
        for (const std::string& piece : c.output) {
            const size_t found = answer.find(piece, at);
            EXPECT_NE(std::string::npos, found) << piece << "\nin: " << answer;
            at = found == std::string::npos ? at : found + piece.size();
        }
        EXPECT_NE(std::string::npos, outcome.errors.find(c.phase)) << outcome.errors;
        ExpectNothingLeft(session);
    }
}

}  // namespace
