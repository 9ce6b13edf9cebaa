#include "platform/posix/btrfs/ProcessIdentity.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace quorlin {

namespace {

struct ProcessStat {
    char state = '?';
    uint64_t startTime = 0;
};

// Fields 3 and 22 of /proc/<pid>/stat. The command name (field 2) may hold blanks and
// parentheses, so the fields are counted from its last ')'.
int ReadProcessStat(const std::string& proc, ProcessStat& stat) {
    std::ifstream file(proc + "/stat");
    if (!file)
        return errno ? errno : ENOENT;
    std::string line;
    if (!std::getline(file, line))
        return EIO;
    const size_t close = line.rfind(')');
    if (close == std::string::npos)
        return EIO;
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    for (int index = 3; fields >> field; ++index) {
        if (index == 3)
            stat.state = field[0];
        if (index == 22) {
            stat.startTime = std::strtoull(field.c_str(), nullptr, 10);
            return 0;
        }
    }
    return EIO;
}

int ReadBootId(std::string& bootId) {
    static const std::string cached = [] {
        std::ifstream file("/proc/sys/kernel/random/boot_id");
        std::string text, digits;
        if (file && std::getline(file, text))
            for (char c : text)
                if (c != '-')
                    digits += c;
        return digits;
    }();
    if (cached.empty())
        return ENOENT;
    bootId = cached;
    return 0;
}

// The identity of the process whose /proc directory is `proc`.
int ReadIdentity(const std::string& proc, long pid, ProcessIdentity& identity) {
    int error = ReadBootId(identity.bootId);
    if (error != 0)
        return error;
    struct stat ns;
    if (::stat((proc + "/ns/pid").c_str(), &ns) != 0)
        return errno;
    identity.pidNamespace = ns.st_ino;
    ProcessStat stat;
    error = ReadProcessStat(proc, stat);
    if (error != 0)
        return error;
    identity.pid = pid;
    identity.startTime = stat.startTime;
    return 0;
}

// The calling process's identity, read once per process (a forked child reads its own).
int QuerySelf(ProcessIdentity& identity) {
    static std::mutex mutex;
    static ProcessIdentity self;
    std::lock_guard<std::mutex> lock(mutex);
    if (self.pid != static_cast<long>(::getpid())) {
        ProcessIdentity fresh;
        const int error = ReadIdentity("/proc/self", static_cast<long>(::getpid()), fresh);
        if (error != 0)
            return error;
        self = fresh;
    }
    identity = self;
    return 0;
}

}  // namespace

int QueryProcessIdentity(long pid, ProcessIdentity& identity) {
    return pid == 0 ? QuerySelf(identity)
                    : ReadIdentity("/proc/" + std::to_string(pid), pid, identity);
}

OwnerState CheckOwner(const ProcessIdentity& owner, const ProcessIdentity& self) {
    if (owner.bootId != self.bootId)
        return OwnerState::kGone;
    if (owner.pidNamespace != self.pidNamespace)
        return OwnerState::kUnknown;
    ProcessStat stat;
    const int error = ReadProcessStat("/proc/" + std::to_string(owner.pid), stat);
    if (error == ENOENT || error == ESRCH)
        return OwnerState::kGone;
    if (error != 0)
        return OwnerState::kUnknown;
    if (stat.startTime != owner.startTime)
        return OwnerState::kGone;
    return stat.state == 'Z' || stat.state == 'X' ? OwnerState::kGone : OwnerState::kAlive;
}

}  // namespace quorlin
