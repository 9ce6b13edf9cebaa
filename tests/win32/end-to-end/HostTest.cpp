// The start calls and their completion through the built quorlin.dll, as a host
// makes them (Quorlin.h only), with the stand-in VSS behind Wine: checked by the
// calls the stand-in saw and by the bytes read through the snapshot paths while
// the live files change.
#include <Quorlin.h>

#include "StandInSession.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

namespace endtoend {
namespace {

using standin::LiveFolder;
using standin::OutputFile;
using standin::ReadBytes;
using standin::StandInSession;
using standin::WriteBytes;

enum class Entry { kSingle, kMulti, kNoWriter };

// The live files of a case and what the agent made of them.
struct Backup {
    std::vector<std::wstring> sources;
    std::vector<std::vector<wchar_t>> snapshots;
    int result = -1;
};

// Starts a backup of `sources` through `entry`, with buffers as the header asks.
void Start(CQuorlin& agent, Entry entry, Backup& backup) {
    std::vector<wchar_t*> sources;
    std::vector<wchar_t*> snapshots;
    for (std::wstring& source : backup.sources) {
        backup.snapshots.emplace_back(source.size() + 64, L'\0');
        sources.push_back(&source[0]);
        snapshots.push_back(backup.snapshots.back().data());
    }
    int length = 0;
    switch (entry) {
        case Entry::kSingle:
            backup.result = agent.VssStartBackup(sources[0], snapshots[0], length);
            break;
        case Entry::kNoWriter:
            backup.result = agent.VssStartBackupNoWriter(sources[0], snapshots[0], length);
            break;
        case Entry::kMulti:
            backup.result = agent.VssStartBackup2(sources.data(), snapshots.data(),
                                                  static_cast<int>(sources.size()));
            break;
    }
}

// Live files on C: and D:, frozen by the stand-in.
struct LiveFiles {
    explicit LiveFiles(StandInSession& session) {
        session.Freeze(onC.Path());
        session.Freeze(onD.Path());
        ::CreateDirectoryW((onC / L"sub").c_str(), nullptr);
    }
    LiveFolder onC{L"C:\\quorlin-host"};
    LiveFolder onD{L"D:\\quorlin-host"};
};

std::string Original(size_t i) { return "original content " + std::to_string(i) + "\r\n"; }

// The set that StartSnapshotSet handed out, from the stand-in's log.
std::string SetIdOf(const StandInSession& session) {
    const std::vector<std::string> lines = session.LinesStarting("StartSnapshotSet -> 0x00000000 ");
    return lines.empty() ? std::string("(none)") : lines[0].substr(lines[0].rfind(' ') + 1);
}

struct SuccessCase {
    const char* name;
    Entry entry;
    int backupType;  // VssSetting id 0
    std::vector<std::wstring> sources;
    std::vector<std::string> calls;  // what the stand-in sees, start to completion
    const char* backupState;
    int snapshots;  // one per volume
};

TEST(HostTest, StartCallsReadFrozenContentAndCompletionDeletesTheSet) {
    const std::vector<std::string> withWriters = {"CreateVssBackupComponents",
                                                  "InitializeForBackup",
                                                  "GatherWriterMetadata",
                                                  "StartSnapshotSet",
                                                  "AddToSnapshotSet",
                                                  "SetBackupState",
                                                  "PrepareForBackup",
                                                  "DoSnapshotSet",
                                                  "GetSnapshotProperties",
                                                  "VssFreeSnapshotProperties",
                                                  "BackupComplete",
                                                  "DeleteSnapshots",
                                                  "Release"};
    const std::vector<std::string> twoVolumes = {"CreateVssBackupComponents",
                                                 "InitializeForBackup",
                                                 "GatherWriterMetadata",
                                                 "StartSnapshotSet",
                                                 "AddToSnapshotSet",
                                                 "AddToSnapshotSet",
                                                 "SetBackupState",
                                                 "PrepareForBackup",
                                                 "DoSnapshotSet",
                                                 "GetSnapshotProperties",
                                                 "VssFreeSnapshotProperties",
                                                 "GetSnapshotProperties",
                                                 "VssFreeSnapshotProperties",
                                                 "GetSnapshotProperties",
                                                 "VssFreeSnapshotProperties",
                                                 "BackupComplete",
                                                 "DeleteSnapshots",
                                                 "Release"};
    const std::vector<std::string> withoutWriters = {"CreateVssBackupComponents",
                                                     "InitializeForBackup",
                                                     "SetContext",
                                                     "SetBackupState",
                                                     "StartSnapshotSet",
                                                     "AddToSnapshotSet",
                                                     "DoSnapshotSet",
                                                     "GetSnapshotProperties",
                                                     "VssFreeSnapshotProperties",
                                                     "BackupComplete",
                                                     "DeleteSnapshots",
                                                     "Release"};
    const SuccessCase cases[] = {
        {"VssStartBackup",
         Entry::kSingle,
         0,
         {L"C:\\quorlin-host\\a.txt"},
         withWriters,
         "SetBackupState 1 0 1 0 ",
         1},
        {"VssStartBackup, incremental",
         Entry::kSingle,
         2,
         {L"C:\\quorlin-host\\sub\\b.txt"},
         withWriters,
         "SetBackupState 1 0 2 0 ",
         1},
        {"VssStartBackup2, two volumes",
         Entry::kMulti,
         0,
         {L"C:\\quorlin-host\\a.txt", L"D:\\quorlin-host\\c.txt", L"C:\\quorlin-host\\sub\\b.txt"},
         twoVolumes,
         "SetBackupState 1 0 1 0 ",
         2},
        {"VssStartBackupNoWriter",
         Entry::kNoWriter,
         0,
         {L"C:\\quorlin-host\\a.txt"},
         withoutWriters,
         "SetBackupState 1 1 1 0 ",
         1},
    };
    for (const SuccessCase& c : cases) {
        SCOPED_TRACE(c.name);
        StandInSession session;
        LiveFiles live(session);
        Backup backup;
        backup.sources = c.sources;
        for (size_t i = 0; i < c.sources.size(); ++i)
            ASSERT_TRUE(WriteBytes(c.sources[i], Original(i)));
        OutputFile trace;
        {
            CQuorlin agent;
            agent.VssSetting(_Quorlin_Setting{c.backupType, 2, trace.Handle()});
            Start(agent, c.entry, backup);
            ASSERT_EQ(QUORLIN_RESULT_OK, backup.result) << trace.Text();
            for (size_t i = 0; i < c.sources.size(); ++i) {
                const std::wstring snapshot = backup.snapshots[i].data();
                const std::wstring below = c.sources[i].substr(3);  // below the volume root
                EXPECT_EQ(0u, snapshot.find(L"\\\\?\\" + session.Store() + L"\\"));
                EXPECT_EQ(snapshot.size() - below.size(), snapshot.rfind(below));
                ASSERT_TRUE(WriteBytes(c.sources[i], "changed while the snapshot is held"));
                EXPECT_EQ(Original(i), ReadBytes(snapshot));
            }
            EXPECT_EQ(static_cast<size_t>(c.snapshots), session.SnapshotsInStore());
            EXPECT_EQ(QUORLIN_RESULT_OK, agent.VssBackupComplete());
            agent.VssSetting(1, 0);
        }
        for (const std::vector<wchar_t>& snapshot : backup.snapshots)
            EXPECT_FALSE(standin::Exists(snapshot.data()));
        EXPECT_EQ(0u, session.SnapshotsInStore());
        EXPECT_EQ(c.calls, session.Calls());
        EXPECT_EQ(1u, session.LinesStarting(c.backupState).size());
        EXPECT_EQ(c.entry == Entry::kNoWriter ? 1u : 0u,
                  session.LinesStarting("SetContext 25 -> 0x00000000").size());
        EXPECT_EQ(1u,
                  session
                      .LinesStarting("DeleteSnapshots " + SetIdOf(session) +
                                     " 2 1 -> 0x00000000 deleted " + std::to_string(c.snapshots))
                      .size());
        EXPECT_EQ(std::vector<std::string>(), session.Unreleased());
        EXPECT_EQ("Backup successfully completed.\r\n", trace.Text());
    }
}

struct FailureCase {
    Entry entry;
    const wchar_t* script;
    bool atCompletion;  // the start succeeds; VssBackupComplete fails
    const char* report;
    size_t aborts;               // AbortBackup calls the stand-in sees
    size_t deletes;              // DeleteSnapshots calls
    DWORD waitLimit = 0;         // VssSetting QUORLIN_SETTING_WAIT_LIMIT
    const char* cancelled = "";  // the operation that the agent cancels
};

TEST(HostTest, FailuresAreReportedAndCleanedUp) {
    const FailureCase cases[] = {
        {Entry::kSingle, L"CreateVssBackupComponents=0x80070005", false,
         "There was a COM failure 0x80070005 - .\\QuorlinClass (325)", 0, 0},
        {Entry::kSingle, L"InitializeForBackup=0x80042302", false,
         "There was a COM failure 0x80042302 - .\\QuorlinClass (328)", 1, 0},
        {Entry::kSingle, L"GatherWriterMetadata.Wait=0x80042302", false,
         "There was a COM failure 0x80042302 - .\\QuorlinClass (336)", 1, 0},
        {Entry::kSingle, L"AddToSnapshotSet=0x8004230c", false,
         "There was a COM failure 0x8004230c - .\\QuorlinClass (505)", 1, 0},
        {Entry::kSingle, L"PrepareForBackup.Status=0x800423f2", false, "Prepare for backup failed.",
         1, 0},
        {Entry::kSingle, L"DoSnapshotSet.Wait=0x80042302", false,
         "There was a COM failure 0x80042302 - .\\QuorlinClass (572)", 1, 1},
        {Entry::kSingle, L"DoSnapshotSet.QueryStatus=0x80042302", false,
         "There was a COM failure 0x80042302 - .\\QuorlinClass (577)", 1, 1},
        {Entry::kSingle, L"DoSnapshotSet.Status=0x8004231f", false, "DoSnapshotSet failed.", 1, 1},
        {Entry::kSingle, L"GetSnapshotProperties=0x80042308", false,
         "There was a COM failure 0x80042308 - .\\QuorlinClass (586)", 1, 1},
        {Entry::kMulti, L"StartSnapshotSet=0x80042316", false,
         "There was a COM failure 0x80042316 - .\\QuorlinClass (1044)", 1, 0},
        {Entry::kMulti, L"DoSnapshotSet=0x8004231f", false,
         "There was a COM failure 0x8004231f - .\\QuorlinClass (1143)", 1, 0},
        {Entry::kMulti, L"GetSnapshotProperties=0x80042308", false,
         "There was a COM failure 0x80042308 - .\\QuorlinClass (1174)", 1, 1},
        {Entry::kNoWriter, L"SetContext=0x8004231b", false,
         "There was a COM failure 0x8004231b - .\\QuorlinClass (152)", 1, 0},
        {Entry::kNoWriter, L"DoSnapshotSet.Wait=0x80042302", false,
         "There was a COM failure 0x80042302 - .\\QuorlinClass (189)", 1, 1},
        {Entry::kNoWriter, L"DoSnapshotSet.QueryStatus=0x80042302", false,
         "There was a COM failure 0x80042302 - .\\QuorlinClass (194)", 1, 1},
        {Entry::kNoWriter, L"GetSnapshotProperties=0x80042308", false,
         "There was a COM failure 0x80042308 - .\\QuorlinClass (203)", 1, 1},
        {Entry::kSingle, L"BackupComplete=0x80042301", true,
         "There was a COM failure 0x80042301 - .\\QuorlinClass (691)", 0, 1},
        {Entry::kNoWriter, L"BackupComplete.Status=0x800423f4", true,
         "Completion of backup failed.", 0, 1},
        // A step that never ends is cancelled at the limit and fails at its wait.
        {Entry::kSingle, L"GatherWriterMetadata.Status=pending", false,
         "There was a COM failure 0x800705b4 - .\\QuorlinClass (336)", 1, 0, 2000,
         "GatherWriterMetadata"},
        {Entry::kSingle, L"PrepareForBackup.Status=pending", false,
         "There was a COM failure 0x800705b4 - .\\QuorlinClass (555)", 1, 0, 2000,
         "PrepareForBackup"},
        {Entry::kMulti, L"DoSnapshotSet.Status=pending", false,
         "There was a COM failure 0x800705b4 - .\\QuorlinClass (1145)", 1, 1, 2000,
         "DoSnapshotSet"},
        {Entry::kNoWriter, L"DoSnapshotSet.Status=pending", false,
         "There was a COM failure 0x800705b4 - .\\QuorlinClass (189)", 1, 1, 2000, "DoSnapshotSet"},
        {Entry::kNoWriter, L"BackupComplete.Status=pending", true,
         "There was a COM failure 0x800705b4 - .\\QuorlinClass (693)", 0, 1, 2000,
         "BackupComplete"},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.report);
        StandInSession session;
        LiveFiles live(session);
        Backup backup;
        backup.sources = {L"C:\\quorlin-host\\a.txt", L"D:\\quorlin-host\\c.txt"};
        if (c.entry != Entry::kMulti)
            backup.sources.pop_back();
        for (size_t i = 0; i < backup.sources.size(); ++i)
            ASSERT_TRUE(WriteBytes(backup.sources[i], Original(i)));
        session.Script(c.script);
        OutputFile trace;
        {
            CQuorlin agent;
            agent.VssSetting(_Quorlin_Setting{0, 2, trace.Handle()});
            agent.VssSetting(QUORLIN_SETTING_WAIT_LIMIT, static_cast<int>(c.waitLimit));
            Start(agent, c.entry, backup);
            if (c.atCompletion) {
                EXPECT_EQ(QUORLIN_RESULT_OK, backup.result);
                EXPECT_EQ(Original(0), ReadBytes(backup.snapshots[0].data()));
                EXPECT_EQ(QUORLIN_RESULT_FAILED, agent.VssBackupComplete());
            } else {
                EXPECT_EQ(QUORLIN_RESULT_FAILED, backup.result);
            }
            // What the failed call did. The destructor completes a failed completion once
            // more; a failed start left nothing to complete.
            EXPECT_EQ(c.aborts, session.LinesStarting("AbortBackup ").size());
            EXPECT_EQ(c.deletes, session.LinesStarting("DeleteSnapshots ").size());
            if (*c.cancelled) {  // VSS's Wait never gets a limit: the adapter polls
                const std::string operation = c.cancelled;
                EXPECT_EQ(1u, session.LinesStarting(operation + ".Cancel -> 0x00000000").size());
                EXPECT_TRUE(session.LinesStarting(operation + ".Wait").empty());
            }
            agent.VssSetting(1, 0);
        }
        EXPECT_EQ(std::string(c.report) + "\r\n", trace.Text());
        EXPECT_EQ(0u, session.SnapshotsInStore());
        EXPECT_EQ(std::vector<std::string>(), session.Unreleased());
    }
}

}  // namespace
}  // namespace endtoend
