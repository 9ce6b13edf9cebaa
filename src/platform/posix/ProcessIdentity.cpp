#include "platform/posix/ProcessIdentity.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
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

}  // namespace

int QueryProcessIdentity(long pid, ProcessIdentity& identity) {
    const std::string proc = pid == 0 ? "/proc/self" : "/proc/" + std::to_string(pid);
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
    identity.pid = pid == 0 ? static_cast<long>(::getpid()) : pid;
    identity.startTime = stat.startTime;
    return 0;
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
