#include "posix/FileMetadata.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace qtool {
namespace {

// The path by which the l*xattr calls reach an entry of an open folder, not followed.
std::string PathOf(const Node& node) {
    return "/proc/self/fd/" + std::to_string(node.folder) + "/" + node.name;
}

ssize_t ListAttributes(const Node& node, char* buffer, size_t size) {
    if (node.fd >= 0)
        return flistxattr(node.fd, buffer, size);
    return llistxattr(PathOf(node).c_str(), buffer, size);
}

ssize_t GetAttribute(const Node& node, const char* name, char* buffer, size_t size) {
    if (node.fd >= 0)
        return fgetxattr(node.fd, name, buffer, size);
    return lgetxattr(PathOf(node).c_str(), name, buffer, size);
}

int SetAttribute(const Node& node, const char* name, const std::string& value) {
    if (node.fd >= 0)
        return fsetxattr(node.fd, name, value.data(), value.size(), 0);
    return lsetxattr(PathOf(node).c_str(), name, value.data(), value.size(), 0);
}

int RemoveAttribute(const Node& node, const char* name) {
    if (node.fd >= 0)
        return fremovexattr(node.fd, name);
    return lremovexattr(PathOf(node).c_str(), name);
}

// Reads what `call(buffer, size)` answers, growing the buffer until it fits. False with
// errno set when it fails; a file system without extended attributes has none.
template <typename Call>
bool ReadSized(std::string& out, Call call) {
    char small[1024];
    ssize_t size = call(small, sizeof small);
    if (size >= 0) {
        out.assign(small, static_cast<size_t>(size));
        return true;
    }
    while (errno == ERANGE) {
        ssize_t needed = call(nullptr, 0);
        if (needed < 0)
            return false;
        out.resize(static_cast<size_t>(needed) + 256);
        size = call(&out[0], out.size());
        if (size >= 0) {
            out.resize(static_cast<size_t>(size));
            return true;
        }
    }
    if (errno == ENOTSUP) {
        out.clear();
        return true;
    }
    return false;
}

bool AttributeNames(const Node& node, std::vector<std::string>& names) {
    std::string list;
    if (!ReadSized(list,
                   [&](char* buffer, size_t size) { return ListAttributes(node, buffer, size); }))
        return false;
    for (size_t start = 0; start < list.size(); start = list.find('\0', start) + 1)
        names.emplace_back(list.c_str() + start);
    return true;
}

void CopyAttributes(const Node& from, const Node& to, bool clean, Losses& losses) {
    std::vector<std::string> names;
    if (!AttributeNames(from, names)) {
        losses.push_back({"the extended attributes", std::strerror(errno)});
        return;
    }
    for (const std::string& name : names) {
        std::string value;
        if (!ReadSized(value,
                       [&](char* buffer, size_t size) {
                           return GetAttribute(from, name.c_str(), buffer, size);
                       }) ||
            SetAttribute(to, name.c_str(), value) != 0)
            losses.push_back({"the extended attribute " + name, std::strerror(errno)});
    }
    // A folder merged into one that was there, or an entry that took a default ACL, may
    // hold attributes that the original has not.
    std::vector<std::string> present;
    if (!clean || !AttributeNames(to, present))
        return;
    for (const std::string& name : present)
        if (std::find(names.begin(), names.end(), name) == names.end() &&
            RemoveAttribute(to, name.c_str()) != 0 && errno != ENODATA)
            losses.push_back(
                {"the absence of the extended attribute " + name, std::strerror(errno)});
}

}  // namespace

void CopyMetadata(const Node& from, const struct stat& status, const Node& to, bool clean,
                  Losses& losses) {
    int owned = to.fd >= 0 ? fchown(to.fd, status.st_uid, status.st_gid)
                           : fchownat(to.folder, to.name, status.st_uid, status.st_gid,
                                      AT_SYMLINK_NOFOLLOW);
    if (owned != 0 && (geteuid() == 0 || errno != EPERM))
        losses.push_back({"the owner", std::strerror(errno)});
    CopyAttributes(from, to, clean, losses);
    if (!S_ISLNK(status.st_mode)) {
        mode_t mode = status.st_mode & 07777;
        int set = to.fd >= 0 ? fchmod(to.fd, mode)
                             : fchmodat(to.folder, to.name, mode, AT_SYMLINK_NOFOLLOW);
        if (set != 0)
            losses.push_back({"the permissions", std::strerror(errno)});
    }
    struct timespec times[2] = {status.st_atim, status.st_mtim};
    int timed = to.fd >= 0 ? futimens(to.fd, times)
                           : utimensat(to.folder, to.name, times, AT_SYMLINK_NOFOLLOW);
    if (timed != 0)
        losses.push_back({"the times", std::strerror(errno)});
}

void MakePrivate(int fd) {
    // The permissions first, so that no one else may come in while the owner changes.
    // Without root an entry of another user's stays as it is.
    (void)!fchmod(fd, 0700);
    (void)!fchown(fd, geteuid(), getegid());
}

}  // namespace qtool
