#include "platform/posix/MountTable.h"

#include <cerrno>
#include <fstream>
#include <sstream>

namespace quorlin {

namespace {

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

// Fields of /proc/self/mountinfo escape blanks, tabs, newlines and backslashes as \ooo.
std::string Unescape(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && IsOctal(field[i + 1]) &&
            IsOctal(field[i + 2]) && IsOctal(field[i + 3])) {
            out += static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                                     (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

bool IsUnder(const std::string& path, const std::string& mountPoint) {
    if (mountPoint == "/")
        return true;
    return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
           (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

}  // namespace

int ReadMountTable(std::vector<Mount>& mounts) {
    std::ifstream table("/proc/self/mountinfo");
    if (!table)
        return errno ? errno : ENOENT;
    mounts.clear();
    std::string line;
    while (std::getline(table, line)) {
        // id parent major:minor root mount-point options [optional...] - type source options
        std::istringstream fields(line);
        std::string id, parent, device, root, mountPoint, field;
        if (!(fields >> id >> parent >> device >> root >> mountPoint))
            continue;
        while (fields >> field && field != "-") {
        }
        std::string type;
        if (!(fields >> type))
            continue;
        mounts.push_back(Mount{Unescape(mountPoint), Unescape(type)});
    }
    return 0;
}

const Mount* FindMount(const std::vector<Mount>& mounts, const std::string& path) {
    const Mount* best = nullptr;
    for (const Mount& mount : mounts)
        if (IsUnder(path, mount.mountPoint) &&
            (best == nullptr || mount.mountPoint.size() >= best->mountPoint.size()))
            best = &mount;
    return best;
}

}  // namespace quorlin
