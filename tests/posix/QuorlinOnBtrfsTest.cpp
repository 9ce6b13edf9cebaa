// The public entry points end to end on real btrfs: a host reads frozen files through
// the paths it gets back, and nothing stays on the volume afterwards.
#include "Quorlin.h"
#include "platform/posix/Utf8.h"
#include "platform/posix/btrfs/BtrfsBackupComponents.h"
#include "posix/BtrfsFixture.h"
#include "posix/ScratchVolume.h"
#include "support/TraceState.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cwchar>

namespace quorlin {
namespace testing {
namespace {

class QuorlinOnBtrfsTest : public BtrfsTest {
protected:
    // A writable copy of `path` for the entry points, and a buffer sized as the header says
    // for Linux.
    struct Paths {
        explicit Paths(const std::string& path) : source(Wide(path)), snapshot(8192) {}
        static std::vector<wchar_t> Wide(const std::string& path) {
            const std::wstring wide = FromUtf8(path);
            std::vector<wchar_t> units(wide.begin(), wide.end());
            units.push_back(L'\0');
            return units;
        }
        std::string Snapshot() const {
            std::string bytes;
            EXPECT_EQ(0, ToUtf8Exact(snapshot.data(), std::wcslen(snapshot.data()), bytes));
            return bytes;
        }
        std::vector<wchar_t> source, snapshot;
    };

    // A single-path start of `paths`, with the writers or without.
    static int StartOne(CQuorlin& agent, Paths& paths, bool withWriters) {
        int length = 0;
        return withWriters
                   ? agent.VssStartBackup(paths.source.data(), paths.snapshot.data(), length)
                   : agent.VssStartBackupNoWriter(paths.source.data(), paths.snapshot.data(),
                                                  length);
    }

    // The lines that an agent traces at the result level, through a pipe.
    class TracedLines {
    public:
        explicit TracedLines(CQuorlin& agent) {
            EXPECT_EQ(0, ::pipe(fds_));
            _Quorlin_Setting setting = {0, 2,
                                        reinterpret_cast<HANDLE>(static_cast<intptr_t>(fds_[1]))};
            agent.VssSetting(setting);
        }
        // What was traced so far; the pipe is closed after.
        std::string Read() {
            ::close(fds_[1]);
            const std::string traced = Drain(fds_[0]);
            ::close(fds_[0]);
            return traced;
        }

    private:
        TraceState state_;
        int fds_[2] = {-1, -1};
    };
};

TEST_F(QuorlinOnBtrfsTest, VssStartBackupGivesThePathOfTheFrozenFile) {
    // Names beyond ASCII: wide text is UTF-32 here, file names UTF-8.
    const std::string volume = NewSubvolume("h\u00f4te");
    const std::string relative = "/donn\u00e9es/rapport \u00e9t\u00e9 \U0001F4C4.doc";
    ::mkdir((volume + "/donn\u00e9es").c_str(), 0755);
    WriteFile(volume + relative, "as it was");
    Paths paths(volume + relative);
    int length = -1;
    {
        CQuorlin agent;
        ASSERT_EQ(QUORLIN_RESULT_OK,
                  agent.VssStartBackup(paths.source.data(), paths.snapshot.data(), length));
        WriteFile(volume + relative, "changed after the snapshot");
        const std::string snapshot = paths.Snapshot();
        EXPECT_EQ(static_cast<int>(FromUtf8(snapshot).size()), length);
        EXPECT_EQ(FirstBtrfs() + "/.quorlin/", snapshot.substr(0, FirstBtrfs().size() + 10));
        EXPECT_EQ(relative, snapshot.substr(snapshot.size() - relative.size()));
        EXPECT_EQ("as it was", ReadFile(snapshot));
        EXPECT_EQ(QUORLIN_RESULT_OK, agent.VssBackupComplete());
        EXPECT_FALSE(Exists(snapshot));
    }
    EXPECT_TRUE(NothingStored());
}

TEST_F(QuorlinOnBtrfsTest, VssStartBackup2TakesEachVolumeOnceInOneSet) {
    const std::string first = NewSubvolume("multi");
    const std::string second = NewSubvolume("multi", SecondBtrfs());
    WriteFile(first + "/a", "a");
    WriteFile(first + "/b", "b");
    WriteFile(second + "/c", "c");
    Paths a(first + "/a"), b(first + "/b"), c(second + "/c");
    wchar_t* sources[] = {a.source.data(), b.source.data(), c.source.data()};
    wchar_t* snapshots[] = {a.snapshot.data(), b.snapshot.data(), c.snapshot.data()};
    CQuorlin agent;
    ASSERT_EQ(QUORLIN_RESULT_OK, agent.VssStartBackup2(sources, snapshots, 3));
    WriteFile(first + "/a", "changed");
    EXPECT_EQ("a", ReadFile(a.Snapshot()));
    EXPECT_EQ("b", ReadFile(b.Snapshot()));
    EXPECT_EQ("c", ReadFile(c.Snapshot()));
    const std::string aSnapshot = a.Snapshot(), bSnapshot = b.Snapshot();
    EXPECT_EQ(aSnapshot.substr(0, aSnapshot.size() - 2), bSnapshot.substr(0, bSnapshot.size() - 2))
        << "one snapshot for the volume of both paths";
    EXPECT_EQ(QUORLIN_RESULT_OK, agent.VssBackupComplete());
    EXPECT_TRUE(NothingStored());
}

TEST_F(QuorlinOnBtrfsTest, VssStartBackupNoWriterSnapshotIsDeletedOnCompletion) {
    const std::string volume = NewSubvolume("nowriter");
    WriteFile(volume + "/log", "one\n");
    Paths paths(volume + "/log");
    int length = 0;
    CQuorlin agent;
    ASSERT_EQ(QUORLIN_RESULT_OK,
              agent.VssStartBackupNoWriter(paths.source.data(), paths.snapshot.data(), length));
    WriteFile(volume + "/log", "two\n", true);
    EXPECT_EQ("one\n", ReadFile(paths.Snapshot()));
    EXPECT_EQ(QUORLIN_RESULT_OK, agent.VssBackupComplete());
    EXPECT_TRUE(NothingStored());
}

TEST_F(QuorlinOnBtrfsTest, DestroyingTheAgentCompletesTheBackup) {
    const std::string volume = NewSubvolume("destructor");
    for (bool withWriters : {true, false}) {
        Paths paths(volume);
        {
            CQuorlin agent;
            ASSERT_EQ(QUORLIN_RESULT_OK, StartOne(agent, paths, withWriters));
            EXPECT_TRUE(Exists(paths.Snapshot()));
        }
        EXPECT_TRUE(NothingStored()) << (withWriters ? "with writers" : "without writers");
    }
}

TEST_F(QuorlinOnBtrfsTest, PathOnAnotherFileSystemIsAnUnsupportedVolume) {
    CQuorlin agent;
    TracedLines traced(agent);
    WriteFile(Tmpfs() + "/elsewhere", "x");
    RemoveAfterTest(Tmpfs() + "/elsewhere");
    Paths paths(Tmpfs() + "/elsewhere");
    int length = 7;
    EXPECT_EQ(QUORLIN_RESULT_FAILED,
              agent.VssStartBackup(paths.source.data(), paths.snapshot.data(), length));
    EXPECT_EQ(7, length);
    EXPECT_EQ("There was a COM failure 0x8004230c - .\\QuorlinClass (505)\r\n", traced.Read());
}

// A link to a name that is not UTF-8: the name travels as wide text with U+DC80-U+DCFF for
// its bytes (names are bytes), through the lookups and the translation, and the host gets
// a snapshot path that names the very file, beside one of a plain path in the same set.
TEST_F(QuorlinOnBtrfsTest, APathThatLeadsToANameThatIsNotUtf8IsSnapshottedExactly) {
    const std::string volume = NewSubvolume("not-utf8");
    ::mkdir((volume + "/\xFF").c_str(), 0755);
    WriteFile(volume + "/\xFF/file", "x");
    WriteFile(volume + "/good", "good");
    ASSERT_TRUE(MakeSubvolume(volume + "/\xFE"));
    WriteFile(volume + "/\xFE/file", "nested");
    ASSERT_EQ(0, ::symlink((volume + "/\xFF").c_str(), (volume + "/link").c_str()));
    CQuorlin agent;
    Paths good(volume + "/good"), bad(volume + "/link/file"), nested(volume + "/\xFE/file");
    wchar_t* sources[] = {good.source.data(), bad.source.data(), nested.source.data()};
    wchar_t* snapshots[] = {good.snapshot.data(), bad.snapshot.data(), nested.snapshot.data()};
    ASSERT_EQ(QUORLIN_RESULT_OK, agent.VssStartBackup2(sources, snapshots, 3));
    EXPECT_EQ("good", ReadFile(good.Snapshot()));
    EXPECT_EQ("x", ReadFile(bad.Snapshot()));
    EXPECT_EQ("/\xFF/file", bad.Snapshot().substr(bad.Snapshot().size() - 7));
    EXPECT_EQ("nested", ReadFile(nested.Snapshot()));
    EXPECT_EQ(QUORLIN_RESULT_OK, agent.VssBackupComplete());
    EXPECT_TRUE(NothingStored());
}

TEST_F(QuorlinOnBtrfsTest, StartAfterAHostCrashedLeavesNothingOfTheCrashedBackup) {
    const std::string volume = NewSubvolume("crash");
    Paths paths(volume + "/");
    const std::string crashed = RunInChild([&] {
        CQuorlin* agent = new CQuorlin;  // never completed, never destroyed
        int length = 0;
        return agent->VssStartBackup(paths.source.data(), paths.snapshot.data(), length) == 0
                   ? paths.Snapshot()
                   : std::string("failed");
    });
    ASSERT_TRUE(Exists(crashed)) << crashed;

    CQuorlin agent;
    int length = 0;
    ASSERT_EQ(QUORLIN_RESULT_OK,
              agent.VssStartBackup(paths.source.data(), paths.snapshot.data(), length));
    EXPECT_FALSE(Exists(crashed));
    EXPECT_EQ(QUORLIN_RESULT_OK, agent.VssBackupComplete());
    EXPECT_TRUE(NothingStored());
}

// A new start call over a held set of VssStartBackupNoWriter: the persistent snapshot
// would stay on the volume with nobody knowing its identity, so it is completed first.
TEST_F(QuorlinOnBtrfsTest, ANewStartCompletesTheHeldPersistentSetFirst) {
    const std::string volume = NewSubvolume("held");
    WriteFile(volume + "/f", "f");
    for (bool multiPath : {false, true}) {
        Paths held(volume + "/f"), next(volume + "/f");
        int length = 0;
        CQuorlin agent;
        ASSERT_EQ(QUORLIN_RESULT_OK,
                  agent.VssStartBackupNoWriter(held.source.data(), held.snapshot.data(), length));
        ASSERT_TRUE(Exists(held.Snapshot()));
        wchar_t* sources[] = {next.source.data()};
        wchar_t* snapshots[] = {next.snapshot.data()};
        ASSERT_EQ(QUORLIN_RESULT_OK,
                  multiPath
                      ? agent.VssStartBackup2(sources, snapshots, 1)
                      : agent.VssStartBackup(next.source.data(), next.snapshot.data(), length));
        EXPECT_FALSE(Exists(held.Snapshot())) << multiPath;
        EXPECT_EQ("f", ReadFile(next.Snapshot()));
        EXPECT_EQ(QUORLIN_RESULT_OK, agent.VssBackupComplete());
        EXPECT_TRUE(NothingStored()) << multiPath;
    }
}

// The service's own calls, with the removal of a snapshot refused while `refusal` is
// set, in use for the life of the object.
class RefusedRemoval : public VolumeCalls {
public:
    RefusedRemoval()
        : previous_(SetBackupComponentsFactory([this](ComPtr<BackupComponents>& components) {
              return CreateBtrfsBackupComponents(*this, components);
          })) {}
    ~RefusedRemoval() override { SetBackupComponentsFactory(previous_); }

    int DestroySnapshot(int dirFd, const char* name) override {
        return refusal != 0 ? refusal : VolumeCalls::DestroySnapshot(dirFd, name);
    }

    int refusal = 0;

private:
    BackupComponentsFactory previous_;
};

// A snapshot that cannot be deleted at completion: the result is 1 with a report line
// naming the error, the snapshot is still there, and once the removal works again
// completing once more deletes it and succeeds (the service is not asked to complete
// the backup twice).
TEST_F(QuorlinOnBtrfsTest, ASnapshotThatCannotBeDeletedFailsTheCompletion) {
    const std::string volume = NewSubvolume("stuck");
    WriteFile(volume + "/f", "f");
    for (bool withWriters : {true, false}) {
        RefusedRemoval calls;
        TraceState trace;
        int fds[2];
        ASSERT_EQ(0, ::pipe(fds));
        Paths paths(volume + "/f");
        {
            CQuorlin agent;
            _Quorlin_Setting setting = {0, 2,
                                        reinterpret_cast<HANDLE>(static_cast<intptr_t>(fds[1]))};
            agent.VssSetting(setting);
            EXPECT_EQ(QUORLIN_RESULT_OK, StartOne(agent, paths, withWriters));
            calls.refusal = EPERM;
            EXPECT_EQ(QUORLIN_RESULT_FAILED, agent.VssBackupComplete()) << withWriters;
            EXPECT_TRUE(Exists(paths.Snapshot())) << withWriters;
            calls.refusal = 0;
            EXPECT_EQ(QUORLIN_RESULT_OK, agent.VssBackupComplete()) << withWriters;
            EXPECT_FALSE(Exists(paths.Snapshot())) << withWriters;
            agent.VssSetting(1, 0);
        }
        ::close(fds[1]);
        const std::string traced = Drain(fds[0]);
        ::close(fds[0]);
        EXPECT_EQ(
            "The snapshot set could not be deleted, error 0x80070005: its snapshots remain.\r\n"
            "Backup successfully completed.\r\n",
            traced);
        EXPECT_TRUE(NothingStored()) << withWriters;
    }
}

// A volume whose root is longer than MAX_PATH units (a subvolume deep in folders).
TEST_F(QuorlinOnBtrfsTest, AVolumeRootLongerThanMaxPathIsSnapshotted) {
    const std::string folder = FirstBtrfs() + "/" + std::string(200, 'd');
    ASSERT_EQ(0, ::mkdir(folder.c_str(), 0755));
    RemoveAfterTest(folder);
    const std::string volume = NewSubvolume(std::string(100, 's'), folder);
    ASSERT_GT(volume.size(), 260u);
    WriteFile(volume + "/f", "as it was");
    const std::string other = NewSubvolume("short");
    WriteFile(other + "/g", "g");

    Paths single(volume + "/f");
    {
        CQuorlin agent;
        ASSERT_EQ(QUORLIN_RESULT_OK, StartOne(agent, single, true));
        WriteFile(volume + "/f", "changed");
        EXPECT_EQ("as it was", ReadFile(single.Snapshot()));
    }  // completed by the destructor

    struct Volumes : CQuorlin {
        const std::vector<_Snapshot_Volume>& Get() const { return m_volumes; }
    } multi;
    Paths a(volume + "/f"), b(other + "/g");
    wchar_t* sources[] = {a.source.data(), b.source.data()};
    wchar_t* snapshots[] = {a.snapshot.data(), b.snapshot.data()};
    ASSERT_EQ(QUORLIN_RESULT_OK, multi.VssStartBackup2(sources, snapshots, 2));
    EXPECT_EQ("changed", ReadFile(a.Snapshot()));
    EXPECT_EQ("g", ReadFile(b.Snapshot()));
    ASSERT_EQ(2u, multi.Get().size());
    EXPECT_STREQ(L"", multi.Get()[0].volumePath) << "a root that does not fit is left out";
    EXPECT_EQ(FromUtf8(other + "/"), multi.Get()[1].volumePath);
    EXPECT_EQ(QUORLIN_RESULT_OK, multi.VssBackupComplete());
    EXPECT_TRUE(NothingStored());
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
