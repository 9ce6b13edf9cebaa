// quorlin list and quorlin delete on real btrfs volumes: held snapshots of dead and live
// owners, persistent sets, refusals, and what a user makes to look like the store.
#include "ToolOnBtrfs.h"

#include "platform/posix/Utf8.h"
#include "platform/posix/btrfs/Guid.h"
#include "platform/Requester.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tooltest {
namespace {

using quorlin::BackupComponents;
using quorlin::ComPtr;

// Takes a snapshot set of `volume` in `context` with `components`: its set id, or "".
std::string TakeSet(const std::string& volume, LONG context, ComPtr<BackupComponents>& components) {
    VSS_ID setId = GUID_NULL, id;
    ComPtr<quorlin::AsyncOperation> async;
    HRESULT status = E_FAIL;
    if (quorlin::CreatePlatformBackupComponents(components) == S_OK &&
        components->InitializeForBackup(nullptr) == S_OK &&
        components->SetContext(context) == S_OK && components->StartSnapshotSet(&setId) == S_OK &&
        components->AddToSnapshotSet(quorlin::FromUtf8(volume + "/").c_str(), GUID_NULL, &id) ==
            S_OK &&
        components->DoSnapshotSet(async) == S_OK && async->QueryStatus(&status, nullptr) == S_OK &&
        status == VSS_S_ASYNC_FINISHED)
        return quorlin::GuidText(setId);
    return "";
}

// A child that takes a set of `volume` in `context` and is killed while it holds it (its
// pid into `pid`): the set's id, or "".
std::string SetOfKilledChild(const std::string& volume, LONG context, pid_t& pid) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return "";
    pid = ::fork();
    if (pid == 0) {
        ComPtr<BackupComponents> components;
        const std::string set = TakeSet(volume, context, components) + "\n";
        (void)!::write(ends[1], set.data(), set.size());
        for (;;)
            ::pause();
    }
    ::close(ends[1]);
    std::string set;
    char c;
    while (::read(ends[0], &c, 1) == 1 && c != '\n')
        set += c;
    ::close(ends[0]);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return set;
}

// The lines of `quorlin list PATH` whose set id is `set`.
std::vector<std::string> LinesOf(const std::string& out, const std::string& set) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < out.size()) {
        const size_t end = out.find('\n', start);
        const std::string line = out.substr(start, end - start);
        if (line.compare(0, set.size(), set) == 0)
            lines.push_back(line);
        start = end == std::string::npos ? out.size() : end + 1;
    }
    return lines;
}

TEST_F(ToolOnBtrfs, ListShowsEachHeldSetAndDeleteTakesOnlyWhatItMay) {
    struct Case {
        const char* name;
        LONG context;
        bool ownerKilled;  // else this process owns the set and lives
        const char* contextField;
        long orphansDeleted;  // by delete --orphans
        int deleteExit;       // of delete SET-ID
        std::string deleteErr;
    };
    const std::string self = std::to_string(::getpid());
    const Case cases[] = {
        {"an auto-release set whose owner was killed", VSS_CTX_BACKUP, true, "auto-release", 1, 1,
         "no such set is held"},
        {"a persistent set whose owner has ended", VSS_CTX_NAS_ROLLBACK, true, "persistent", 0, 0,
         ""},
        {"an auto-release set of a live owner", VSS_CTX_BACKUP, false, "auto-release", 0, 1,
         "its owner, process " + self +
             ", still runs; an auto-release set goes by itself when its owner ends, so nothing "
             "is deleted."},
        {"a persistent set of a live owner", VSS_CTX_NAS_ROLLBACK, false, "persistent", 0, 1,
         "its owner, process " + self +
             ", still runs; delete the set once that process has ended."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ComPtr<BackupComponents> own;
        pid_t owner = ::getpid();
        const std::string set = c.ownerKilled ? SetOfKilledChild(Volume(), c.context, owner)
                                              : TakeSet(Volume(), c.context, own);
        ASSERT_EQ(36u, set.size());

        const Outcome list = RunTool({"list", Volume()});
        EXPECT_EQ(0, list.exitCode) << list.err;
        const std::vector<std::string> lines = LinesOf(list.out, set);
        ASSERT_EQ(1u, lines.size()) << list.out;
        const std::string fields = set + "\t" + Volume() + "\t" + c.contextField + "\t" +
                                   std::to_string(owner) + (c.ownerKilled ? " gone" : " running") +
                                   "\t";
        EXPECT_EQ(fields, lines[0].substr(0, fields.size()));
        const std::string age = lines[0].substr(std::min(fields.size(), lines[0].size()));
        EXPECT_TRUE(age.size() >= 2 && age.back() == 's' &&
                    age.find_first_not_of("0123456789") == age.size() - 1)
            << age;

        const Outcome orphans = RunTool({"delete", "--orphans", Volume()});
        EXPECT_EQ(0, orphans.exitCode) << orphans.err;
        EXPECT_EQ("quorlin: deleted " + std::to_string(c.orphansDeleted) + " snapshot" +
                      (c.orphansDeleted == 1 ? "" : "s") + ".\n",
                  orphans.out);

        const Outcome removed = RunTool({"delete", set, Volume()});
        EXPECT_EQ(c.deleteExit, removed.exitCode);
        if (c.deleteExit == 0) {
            EXPECT_EQ("quorlin: deleted 1 snapshot.\n", removed.out);
            EXPECT_EQ("", removed.err);
        } else {
            EXPECT_EQ("quorlin: could not delete snapshot set " + set + " on the volume of " +
                          Volume() + ": " + c.deleteErr +
                          (c.deleteErr.back() == '.' ? ""
                                                     : "; run \"quorlin list\" to see the "
                                                       "held sets.") +
                          "\n",
                      removed.err);
        }
        const bool stillHeld = !LinesOf(RunTool({"list", Volume()}).out, set).empty();
        EXPECT_EQ(!c.ownerKilled, stillHeld) << "only the live owner's set is left";
        own.Reset();  // an auto-release set goes with it, a persistent one stays
        if (!c.ownerKilled) {
            const Outcome after = RunTool({"delete", set, Volume()});
            EXPECT_EQ(c.context == VSS_CTX_NAS_ROLLBACK ? 0 : 1, after.exitCode) << after.err;
        }
    }
}

TEST_F(ToolOnBtrfs, WhatAUserMadeToLookLikeTheStoreIsNeverListedOrDeleted) {
    // A folder of nobody's on the volume, with a ".quorlin" inside that holds a subvolume
    // named as snapshots are, a record beside it whose owner is gone, and a link named as
    // a snapshot to the volume's root.
    const std::string home = Volume() + "/home-of-nobody";
    ASSERT_EQ(0, ::mkdir(home.c_str(), 0755));
    ASSERT_EQ(0, ::chown(home.c_str(), NobodyUid(), NobodyGid()));
    const std::string set = "11111111-2222-4333-8444-555555555555";
    const std::string snapshot = "66666666-7777-4888-8999-aaaaaaaaaaaa";
    const std::string link = "bbbbbbbb-cccc-4ddd-8eee-ffffffffffff";
    const std::string store = home + "/.quorlin";
    ASSERT_TRUE(AsNobody([&] {
        return ::mkdir(store.c_str(), 0700) == 0 &&
               std::system(
                   ("btrfs -q subvolume create '" + store + "/" + snapshot + "'").c_str()) == 0 &&
               ::close(::open((store + "/" + snapshot + ".record.0." + set + ".1").c_str(),
                              O_CREAT | O_WRONLY, 0600)) == 0 &&
               ::close(::open((store + "/" + link + ".record.0." + set + ".1").c_str(),
                              O_CREAT | O_WRONLY, 0600)) == 0 &&
               ::symlink(Volume().c_str(), (store + "/" + link).c_str()) == 0;
    }));
    const std::string marker = Volume() + "/marker";
    Write(marker, "kept");

    const Outcome list = RunTool({"list", Volume()});
    EXPECT_EQ(0, list.exitCode) << list.err;
    EXPECT_EQ(std::string::npos, list.out.find(set)) << list.out;
    const Outcome orphans = RunTool({"delete", "--orphans", Volume()});
    EXPECT_EQ("quorlin: deleted 0 snapshots.\n", orphans.out) << orphans.err;
    const Outcome named = RunTool({"delete", set, Volume()});
    EXPECT_EQ(1, named.exitCode);
    EXPECT_NE(std::string::npos, named.err.find("no such set is held")) << named.err;

    // Nor does a user see the held snapshots as an empty list: quorlin says it may not look.
    Launch asNobody;
    asNobody.runner = {"setpriv", "--reuid=" + std::to_string(NobodyUid()),
                       "--regid=" + std::to_string(NobodyGid()), "--clear-groups"};
    const Outcome unprivileged = RunTool({"list", Volume()}, asNobody);
    EXPECT_EQ(1, unprivileged.exitCode);
    EXPECT_EQ(0u, unprivileged.err.find("quorlin: could not list the held snapshots on the volume "
                                        "of " +
                                        Volume() + ": access was denied"))
        << unprivileged.err;

    EXPECT_TRUE(Exists(store + "/" + snapshot));
    EXPECT_TRUE(Exists(store + "/" + snapshot + ".record.0." + set + ".1"));
    EXPECT_EQ("kept", Read(marker));
    Shell("btrfs -q subvolume delete '" + store + "/" + snapshot + "' && rm -rf '" + home + "' '" +
          marker + "'");
}

}  // namespace
}  // namespace tooltest
