#include "base/posix/MountTable.h"

#include "base/posix/TextFields.h"
#include "base/posix/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

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

// The file's bytes from its start; /proc files report no size, so it is read until its end.
int ReadWholeFile(int fd, std::string& content) {
    if (::lseek(fd, 0, SEEK_SET) < 0)
        return errno;
    char buffer[16384];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            content.append(buffer, static_cast<size_t>(n));
    return n < 0 ? errno : 0;
}

bool IsUnder(const std::string& path, const std::string& mountPoint) {
    if (mountPoint == "/")
        return true;
    return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
           (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

}  // namespace

const char kMountTablePath[] = "/proc/self/mountinfo";

int ReadMountTable(std::vector<Mount>& mounts) {
    const UniqueFd fd(::open(kMountTablePath, O_RDONLY | O_CLOEXEC));
    return fd.Valid() ? ReadMountTable(fd.Get(), mounts) : errno;
}

int ReadMountTable(int fd, std::vector<Mount>& mounts) {
    std::string table;
    const int error = ReadWholeFile(fd, table);
    if (error != 0)
        return error;
    mounts.clear();
    for (const std::string& line : SplitFields(table, '\n', true)) {
        // id parent major:minor root mount-point options [optional...] - type source options
        const std::vector<std::string> fields = SplitFields(line, ' ', true);
        size_t separator = 6;
        while (separator < fields.size() && fields[separator] != "-")
            ++separator;
        if (separator + 1 < fields.size())
            mounts.push_back(Mount{Unescape(fields[4]), Unescape(fields[separator + 1]),
                                   Unescape(fields[3]), fields[2]});
    }
    return 0;
}

std::vector<Mount> ShownMounts(const std::vector<Mount>& mounts) {
    std::vector<Mount> shown;
    for (const Mount& mount : mounts) {
        shown.erase(std::remove_if(shown.begin(), shown.end(),
                                   [&](const Mount& earlier) {
                                       return earlier.mountPoint == mount.mountPoint;
                                   }),
                    shown.end());
        shown.push_back(mount);
    }
    return shown;
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
