// The service's small pieces without a volume: error mapping, identities, records and
// their locks.
#include "diag/TraceOptions.h"
#include "diag/Trace.h"
#include "platform/posix/btrfs/ErrnoResult.h"
#include "platform/posix/btrfs/Guid.h"
#include "platform/posix/btrfs/VolumeCalls.h"
#include "platform/posix/btrfs/SnapshotRecord.h"
#include "posix/BtrfsFixture.h"
#include "support/TraceState.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace quorlin {
namespace {

TEST(ErrnoResultTest, KernelErrorsMapToFittingResults) {
    const struct {
        int error;
        HRESULT result;
    } cases[] = {
        {0, S_OK},
        {EPERM, E_ACCESSDENIED},
        {EACCES, E_ACCESSDENIED},
        {ENOSPC, VSS_E_INSUFFICIENT_STORAGE},
        {EDQUOT, VSS_E_INSUFFICIENT_STORAGE},
        {ENOMEM, E_OUTOFMEMORY},
        {ENOENT, VSS_E_OBJECT_NOT_FOUND},
        {EEXIST, VSS_E_OBJECT_ALREADY_EXISTS},
        {EROFS, kVolumeReadOnly},
        {ENOTTY, VSS_E_VOLUME_NOT_SUPPORTED},
        {EXDEV, VSS_E_VOLUME_NOT_SUPPORTED},
        {EBUSY, VSS_E_VOLUME_IN_USE},
        {EMLINK, VSS_E_MAXIMUM_NUMBER_OF_SNAPSHOTS_REACHED},
        {EINVAL, E_INVALIDARG},
        {EIO, VSS_E_UNEXPECTED_PROVIDER_ERROR},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.result, ResultFromErrno(c.error)) << c.error;
    EXPECT_EQ(VSS_E_INSUFFICIENT_STORAGE, ReportErrno("snapshotting", "/v", ENOSPC));
    EXPECT_EQ(ENOSPC, errno);  // kept for the host's last error
}

TEST(ErrnoResultTest, ALineTheConsoleRefusesIsDroppedAndTheResultStands) {
    testing::TraceState trace;
    const int readOnly = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(readOnly, 0);
    g_traceLevel = TRACE_LEVEL_SERVICE_DETAIL;
    g_traceConsole = reinterpret_cast<HANDLE>(static_cast<intptr_t>(readOnly));
    EXPECT_EQ(VSS_E_VOLUME_IN_USE, ReportErrno("snapshotting", "/v", EBUSY));
    EXPECT_EQ(EBUSY, errno);
    ::close(readOnly);
}

TEST(GuidTest, RandomIdentitiesAreDistinctAndRoundTripThroughText) {
    GUID a, b, parsed;
    ASSERT_EQ(0, NewRandomGuid(a));
    ASSERT_EQ(0, NewRandomGuid(b));
    EXPECT_FALSE(a == b);
    EXPECT_EQ(0x4000, a.Data3 & 0xF000);  // version 4
    const std::string text = GuidText(a);
    EXPECT_EQ(36u, text.size());
    ASSERT_TRUE(ParseGuid(text, parsed));
    EXPECT_TRUE(parsed == a);
    const GUID known = {
        0x01234567, 0x89ab, 0xcdef, {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef}};
    EXPECT_EQ("01234567-89ab-cdef-0123-456789abcdef", GuidText(known));
    for (const char* bad :
         {"", "01234567-89ab-cdef-0123-456789abcde", "01234567+89ab-cdef-0123-456789abcdef",
          "0123456g-89ab-cdef-0123-456789abcdef", "../../etc/passwd"})
        EXPECT_FALSE(ParseGuid(bad, parsed)) << bad;
}

TEST(SnapshotRecordTest, RecordNamesRoundTripAndRejectAnythingElse) {
    SnapshotRecord record;
    ASSERT_EQ(0, NewRandomGuid(record.snapshotId));
    ASSERT_EQ(0, NewRandomGuid(record.setId));
    record.context = VSS_CTX_NAS_ROLLBACK;
    record.ownerPid = 4194304;
    const std::string name = RecordFileName(record);
    EXPECT_LT(name.size(), 256u);  // one file name
    SnapshotRecord parsed;
    ASSERT_TRUE(ParseRecordFileName(name, parsed));
    EXPECT_TRUE(parsed.snapshotId == record.snapshotId);
    EXPECT_TRUE(parsed.setId == record.setId);
    EXPECT_EQ(record.context, parsed.context);
    EXPECT_EQ(record.ownerPid, parsed.ownerPid);

    const std::string guid = GuidText(record.snapshotId);
    const std::string set = GuidText(record.setId);
    std::string upper = name;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const std::string& bad :
         {guid, guid + ".record", name + ".1", guid + ".other.5." + set + ".4194304",
          guid + ".record.-1." + set + ".1", guid + ".record.5." + set + ".01",
          guid + ".record.5.x." + set, upper.replace(37, 6, "record")})
        EXPECT_FALSE(ParseRecordFileName(bad, parsed)) << bad;
    EXPECT_TRUE(IsAutoRelease(VSS_CTX_BACKUP));
    EXPECT_FALSE(IsAutoRelease(VSS_CTX_NAS_ROLLBACK));
}

// A folder of its own under /tmp, removed with what it holds.
class RecordFolder {
public:
    RecordFolder() {
        char name[] = "/tmp/quorlin-record-test-XXXXXX";
        if (::mkdtemp(name) != nullptr)
            path_ = name;
        fd_.Reset(::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    ~RecordFolder() {
        if (!path_.empty())
            (void)std::system(("rm -rf '" + path_ + "'").c_str());
    }
    int Fd() const { return fd_.Get(); }
    // The snapshot folder `name` in it, opened anew.
    UniqueFd Open(const char* name) const {
        return UniqueFd(::open((path_ + "/" + name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }

private:
    std::string path_;
    UniqueFd fd_;
};

// Whoever can take an owner's lock knows the owner is gone: while the owner lives, in
// whatever state, no one else can; once it has ended (reaped or not), anyone can, even
// while a program that it started runs on. Each row's owner is a child that makes its
// record and then does what the row says.
TEST(RecordLockTest, AnOwnersRecordIsAbandonedExactlyWhenTheOwnerIsGone) {
    enum class Then { kSleep, kSleepInAThreadOnly, kStartAProgramAndSleep };
    const struct {
        const char* name;
        Then then;
        bool killed;
        bool abandoned;
    } cases[] = {
        {"asleep in pause()", Then::kSleep, false, false},
        {"main thread ended, another thread asleep", Then::kSleepInAThreadOnly, false, false},
        {"killed, not yet reaped", Then::kSleep, true, true},
        {"killed, a program it started runs on", Then::kStartAProgramAndSleep, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordFolder folder;
        ASSERT_GE(folder.Fd(), 0);
        int ready[2];
        ASSERT_EQ(0, ::pipe2(ready, O_CLOEXEC));
        const pid_t owner = ::fork();
        if (owner == 0) {
            UniqueFd lock;
            if (SystemVolumeCalls().CreateRecord(folder.Fd(), "snapshot", "record", lock) != 0)
                ::_exit(1);
            pid_t program = 0;
            int started[2];
            if (c.then == Then::kStartAProgramAndSleep && ::pipe2(started, O_CLOEXEC) == 0) {
                if ((program = ::fork()) == 0) {
                    ::execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
                    ::_exit(1);
                }
                ::close(started[1]);
                char byte;
                (void)!::read(started[0], &byte, 1);  // the end: the program has started
            }
            (void)!::write(ready[1], &program, sizeof program);
            if (c.then == Then::kSleepInAThreadOnly) {
                std::thread([] { ::pause(); }).detach();
                ::syscall(SYS_exit, 0);  // this thread alone
            }
            ::pause();
            ::_exit(0);
        }
        ::close(ready[1]);
        pid_t program = 0;
        ASSERT_EQ(static_cast<ssize_t>(sizeof program), ::read(ready[0], &program, sizeof program));
        ::close(ready[0]);
        if (c.killed) {
            ::kill(owner, SIGKILL);
            EXPECT_TRUE(testing::WaitForProcessState(owner, 'Z'));
        } else if (c.then == Then::kSleep) {
            EXPECT_TRUE(testing::WaitForProcessState(owner, 'S')) << "certainly asleep";
        } else {
            EXPECT_TRUE(testing::WaitForProcessState(owner, 'Z')) << "the main thread has ended";
        }
        if (program != 0) {
            EXPECT_EQ(0, ::kill(program, 0)) << "the program runs on";
        }
        RecordClaim claim;
        bool abandoned = !c.abandoned;
        const UniqueFd snapshotFolder = folder.Open("snapshot");
        EXPECT_EQ(0, ClaimAbandonedRecord(snapshotFolder.Get(), "record", claim, abandoned));
        EXPECT_EQ(c.abandoned, abandoned);
        EXPECT_EQ(c.abandoned, claim.folder.Valid());
        ::kill(owner, SIGKILL);
        ::waitpid(owner, nullptr, 0);
        if (program != 0)
            ::kill(program, SIGKILL);
    }
}

TEST(RecordLockTest, TheOwnersOwnProcessCannotClaimItsRecord) {
    RecordFolder folder;
    UniqueFd lock, other;
    ASSERT_EQ(0, SystemVolumeCalls().CreateRecord(folder.Fd(), "snapshot", "record", lock));
    EXPECT_EQ(EEXIST, SystemVolumeCalls().CreateRecord(folder.Fd(), "snapshot", "record", other));
    const UniqueFd snapshotFolder = folder.Open("snapshot");
    // Each row claims the record (or, with a null name, a snapshot whose record is gone).
    for (const char* record : {"record", static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(record ? record : "(record gone)");
        RecordClaim claim;
        bool abandoned = true;
        EXPECT_EQ(0, ClaimAbandonedRecord(snapshotFolder.Get(), record, claim, abandoned));
        EXPECT_FALSE(abandoned) << "the lock belongs to the open folder, not to the process";
    }
    lock.Reset();
    RecordClaim claim;
    bool abandoned = false;
    EXPECT_EQ(0, ClaimAbandonedRecord(snapshotFolder.Get(), "record", claim, abandoned));
    EXPECT_TRUE(abandoned);
    EXPECT_EQ(ENOENT, ClaimAbandonedRecord(snapshotFolder.Get(), "missing", claim, abandoned));
}

}  // namespace
}  // namespace quorlin
