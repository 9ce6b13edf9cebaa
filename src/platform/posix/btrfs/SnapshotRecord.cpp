#include "platform/posix/btrfs/SnapshotRecord.h"

#include "base/posix/BtrfsIoctl.h"
#include "platform/posix/btrfs/Guid.h"
#include "base/posix/TextFields.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <vector>

namespace quorlin {

namespace {

const char kRecordTag[] = "record";

// A decimal number without sign or blanks.
bool ParseNumber(const std::string& text, unsigned long long& value) {
    if (text.empty() || text.size() > 19)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    value = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}

}  // namespace

bool IsAutoRelease(LONG context) { return context == VSS_CTX_BACKUP; }

std::string RecordFileName(const SnapshotRecord& record) {
    return GuidText(record.snapshotId) + "." + kRecordTag + "." + std::to_string(record.context) +
           "." + GuidText(record.setId) + "." + std::to_string(record.ownerPid);
}

bool ParseRecordFileName(const std::string& name, SnapshotRecord& record) {
    const std::vector<std::string> parts = SplitFields(name, '.', false);
    unsigned long long context, pid;
    if (parts.size() != 5 || parts[1] != kRecordTag || !ParseGuid(parts[0], record.snapshotId) ||
        !ParseNumber(parts[2], context) || !ParseGuid(parts[3], record.setId) ||
        !ParseNumber(parts[4], pid) || context > 0x7FFFFFFF || pid > 0x7FFFFFFF)
        return false;
    record.context = static_cast<LONG>(context);
    record.ownerPid = static_cast<long>(pid);
    return RecordFileName(record) == name;  // one name per record: no other spelling
}

int ClaimAbandonedRecord(int folderFd, const char* name, RecordClaim& claim, bool& abandoned) {
    abandoned = false;
    RecordClaim taken;
    if (name != nullptr) {
        taken.record.Reset(
            ::openat(folderFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!taken.record.Valid())
            return errno;
        struct stat st;
        if (::fstat(taken.record.Get(), &st) != 0)
            return errno;
        if (!S_ISREG(st.st_mode))
            return 0;  // not a record of the service's making: left alone
        if (::flock(taken.record.Get(), LOCK_EX | LOCK_NB) != 0)
            return errno == EWOULDBLOCK ? 0 : errno;
    }
    struct stat folder;
    struct statfs fileSystem;
    if (::fstat(folderFd, &folder) != 0 || ::fstatfs(folderFd, &fileSystem) != 0)
        return errno;
    if (!IsSubvolumeRoot(fileSystem, folder)) {
        // A description of its own: the lock belongs to it, not to the list's descriptor.
        taken.folder.Reset(::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!taken.folder.Valid())
            return errno;
        if (::flock(taken.folder.Get(), LOCK_EX | LOCK_NB) != 0)
            return errno == EWOULDBLOCK ? 0 : errno;
    } else if (name == nullptr) {
        return 0;  // nothing tells whether its owner lives
    }
    abandoned = true;
    claim = std::move(taken);
    return 0;
}

}  // namespace quorlin
