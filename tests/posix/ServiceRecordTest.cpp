// The service's small pieces without a volume: error mapping, identities and records.
#include "agent/Options.h"
#include "diag/Trace.h"
#include "platform/posix/btrfs/ErrnoResult.h"
#include "platform/posix/btrfs/Guid.h"
#include "platform/posix/btrfs/ProcessIdentity.h"
#include "platform/posix/btrfs/SnapshotRecord.h"
#include "support/TraceState.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
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
        {EROFS, VSS_E_VOLUME_NOT_SUPPORTED},
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
    g_traceLevel = TRACE_LEVEL_DETAIL;
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
    record.context = VSS_CTX_NAS_ROLLBACK;
    ASSERT_EQ(0, QueryProcessIdentity(0, record.owner));
    const std::string name = RecordFileName(record);
    EXPECT_LT(name.size(), 256u);  // one file name
    SnapshotRecord parsed;
    ASSERT_TRUE(ParseRecordFileName(name, parsed));
    EXPECT_TRUE(parsed.snapshotId == record.snapshotId);
    EXPECT_EQ(record.context, parsed.context);
    EXPECT_EQ(record.owner.bootId, parsed.owner.bootId);
    EXPECT_EQ(record.owner.pidNamespace, parsed.owner.pidNamespace);
    EXPECT_EQ(record.owner.pid, parsed.owner.pid);
    EXPECT_EQ(record.owner.startTime, parsed.owner.startTime);

    const std::string guid = GuidText(record.snapshotId);
    for (const std::string& bad :
         {guid, guid + ".record", name + ".1", guid + ".other" + name.substr(guid.size() + 7),
          guid + ".record.-1" + name.substr(name.find('.', guid.size() + 8))})
        EXPECT_FALSE(ParseRecordFileName(bad, parsed)) << bad;
    EXPECT_TRUE(IsAutoRelease(VSS_CTX_BACKUP));
    EXPECT_FALSE(IsAutoRelease(VSS_CTX_NAS_ROLLBACK));
}

TEST(ProcessIdentityTest, OwnersAreGoneOnlyWhenThatIsCertain) {
    ProcessIdentity self;
    ASSERT_EQ(0, QueryProcessIdentity(0, self));
    EXPECT_EQ(32u, self.bootId.size());
    EXPECT_EQ(OwnerState::kAlive, CheckOwner(self, self));

    ProcessIdentity reused = self;  // same pid, later start: another process
    ++reused.startTime;
    EXPECT_EQ(OwnerState::kGone, CheckOwner(reused, self));
    ProcessIdentity rebooted = self;
    rebooted.bootId[0] = rebooted.bootId[0] == '0' ? '1' : '0';
    EXPECT_EQ(OwnerState::kGone, CheckOwner(rebooted, self));
    ProcessIdentity elsewhere = self;  // counted in another pid namespace: cannot tell
    ++elsewhere.pidNamespace;
    EXPECT_EQ(OwnerState::kUnknown, CheckOwner(elsewhere, self));

    const pid_t child = ::fork();
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    ProcessIdentity owner;
    ASSERT_EQ(0, QueryProcessIdentity(child, owner));
    EXPECT_EQ(OwnerState::kAlive, CheckOwner(owner, self));
    ::kill(child, SIGKILL);
    ::usleep(100000);
    EXPECT_EQ(OwnerState::kGone, CheckOwner(owner, self)) << "a zombie is gone";
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(OwnerState::kGone, CheckOwner(owner, self));
}

}  // namespace
}  // namespace quorlin
