#include "platform/posix/VolumeLookup.h"

#include <cerrno>
#include <fstream>
#include <sstream>

namespace quorlin {

namespace {

// Mount points in /proc/self/mountinfo escape blanks and backslashes as \ooo.
std::string Unescape(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            out += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
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

int LookupVolumeRoot(const std::string& resolved, std::string& root) {
    std::ifstream table("/proc/self/mountinfo");
    if (!table)
        return errno ? errno : ENOENT;
    std::string best;
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, source, mountPoint;
        if (!(fields >> id >> parent >> device >> source >> mountPoint))
            continue;
        mountPoint = Unescape(mountPoint);
        // Later lines mount over earlier ones at the same place; the longest prefix wins.
        if (IsUnder(resolved, mountPoint) && mountPoint.size() >= best.size())
            best = mountPoint;
    }
    if (best.empty())
        return ENOENT;
    root = best;
    if (root.back() != '/')
        root += '/';
    return 0;
}

}  // namespace quorlin
