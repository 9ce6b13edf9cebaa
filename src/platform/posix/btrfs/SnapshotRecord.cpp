#include "platform/posix/btrfs/SnapshotRecord.h"

#include "platform/posix/btrfs/Guid.h"
#include "platform/posix/TextFields.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace quorlin {

namespace {

const char kRecordTag[] = "record";

// A decimal number without sign or leading blanks, as RecordFileName writes them.
bool ParseNumber(const std::string& text, unsigned long long& value) {
    if (text.empty() || text.size() > 20)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    errno = 0;
    value = std::strtoull(text.c_str(), nullptr, 10);
    return errno == 0;
}

bool IsHexDigits(const std::string& text, size_t length) {
    if (text.size() != length)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

}  // namespace

bool IsAutoRelease(LONG context) { return context == VSS_CTX_BACKUP; }

std::string RecordFileName(const SnapshotRecord& record) {
    return GuidText(record.snapshotId) + "." + kRecordTag + "." + std::to_string(record.context) +
           "." + record.owner.bootId + "." + std::to_string(record.owner.pidNamespace) + "." +
           std::to_string(record.owner.pid) + "." + std::to_string(record.owner.startTime);
}

bool ParseRecordFileName(const std::string& name, SnapshotRecord& record) {
    const std::vector<std::string> parts = SplitFields(name, '.', false);
    unsigned long long context, pidNamespace, pid, startTime;
    if (parts.size() != 7 || parts[1] != kRecordTag || !ParseGuid(parts[0], record.snapshotId) ||
        !ParseNumber(parts[2], context) || !IsHexDigits(parts[3], 32) ||
        !ParseNumber(parts[4], pidNamespace) || !ParseNumber(parts[5], pid) ||
        !ParseNumber(parts[6], startTime) || context > 0x7FFFFFFF)
        return false;
    record.context = static_cast<LONG>(context);
    record.owner.bootId = parts[3];
    record.owner.pidNamespace = pidNamespace;
    record.owner.pid = static_cast<long>(pid);
    record.owner.startTime = startTime;
    return true;
}

}  // namespace quorlin
