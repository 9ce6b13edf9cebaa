#include "platform/posix/writers/TrustedWalk.h"

#include "platform/posix/TextFields.h"

#include <cerrno>
#include <fcntl.h>
#include <vector>

namespace quorlin {

namespace {

const int kFolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The names of the absolute `path` with "." dropped and ".." taking the name before it.
std::vector<std::string> ResolvedNames(const std::string& path) {
    std::vector<std::string> names;
    for (std::string& name : SplitFields(path, '/', true)) {
        if (name == "..") {
            if (!names.empty())
                names.pop_back();
        } else if (name != ".") {
            names.push_back(std::move(name));
        }
    }
    return names;
}

bool OnlyRootCanReplace(const struct stat& folder, const struct stat& entry) {
    return OnlyRootCanWrite(folder) ||
           (folder.st_uid == 0 && (folder.st_mode & S_ISVTX) != 0 && entry.st_uid == 0);
}

}  // namespace

bool OnlyRootCanWrite(const struct stat& folder) {
    return folder.st_uid == 0 && (folder.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

int OpenTrustedPath(const std::string& path, int flags, UniqueFd& fd, struct stat& status,
                    std::string& refusedAt) {
    if (path.empty() || path[0] != '/')
        return EINVAL;
    const std::vector<std::string> names = ResolvedNames(path);
    UniqueFd current(::open("/", names.empty() ? flags | O_CLOEXEC : kFolderFlags));
    struct stat currentStatus;
    if (!current.Valid() || ::fstat(current.Get(), &currentStatus) != 0)
        return errno;
    std::string walked;
    for (size_t i = 0; i < names.size(); ++i) {
        const bool last = i + 1 == names.size();
        const std::string parent = walked.empty() ? "/" : walked;
        walked += "/" + names[i];
        UniqueFd next(::openat(current.Get(), names[i].c_str(),
                               last ? flags | O_NOFOLLOW | O_CLOEXEC : kFolderFlags));
        if (!next.Valid()) {
            const int error = errno;
            if (error == ELOOP || error == ENOTDIR) {
                struct stat link;
                if (::fstatat(current.Get(), names[i].c_str(), &link, AT_SYMLINK_NOFOLLOW) == 0 &&
                    S_ISLNK(link.st_mode)) {
                    refusedAt = walked;
                    return ELOOP;
                }
            }
            return error;
        }
        struct stat nextStatus;
        if (::fstat(next.Get(), &nextStatus) != 0)
            return errno;
        if (!OnlyRootCanReplace(currentStatus, nextStatus)) {
            refusedAt = parent;
            return EACCES;
        }
        current = std::move(next);
        currentStatus = nextStatus;
    }
    fd = std::move(current);
    status = currentStatus;
    return 0;
}

}  // namespace quorlin
