#include "base/posix/TrustedPath.h"

#include "base/PathNames.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/sysmacros.h>
#include <vector>

namespace quorlin {

namespace {

const int kStepFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The names of the absolute `path` with "." dropped and ".." taking the name before it.
std::vector<std::string> ResolvedNames(const std::string& path) {
    std::vector<std::string> names;
    for (std::string& name : PathNames(path)) {
        if (name == "..") {
            if (!names.empty())
                names.pop_back();
        } else if (name != ".") {
            names.push_back(std::move(name));
        }
    }
    return names;
}

// One step of a walk: opens `name` in the folder `current` (with `status`, at the path
// `walked`, which the step extends) with `flags` and checks that only root can replace it.
// 0 with `next` and `nextStatus`; ELOOP with `refusedAt` at a link; EACCES with
// `refusedAt` at the folder when others could replace the entry; else the errno value.
int TrustedStep(int current, const struct stat& status, std::string& walked,
                const std::string& name, int flags, UniqueFd& next, struct stat& nextStatus,
                std::string& refusedAt, uint64_t* mountId = nullptr) {
    const std::string parent = walked.empty() ? "/" : walked;
    walked += "/" + name;
    next.Reset(::openat(current, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC));
    if (!next.Valid()) {
        const int error = errno;
        struct stat link;
        if ((error == ELOOP || error == ENOTDIR) &&
            ::fstatat(current, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(link.st_mode)) {
            refusedAt = walked;
            return ELOOP;
        }
        return error;
    }
    const int error = StatusOf(next.Get(), nextStatus, mountId);
    if (error != 0)
        return error;
    if (!OnlyRootCanReplace(status, nextStatus)) {
        refusedAt = parent;
        return EACCES;
    }
    return 0;
}

}  // namespace

int StatusOf(int fd, struct stat& status, uint64_t* mountId) {
    if (mountId == nullptr)
        return ::fstat(fd, &status) == 0 ? 0 : errno;
    struct statx st;
    if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_BASIC_STATS | STATX_MNT_ID,
                &st) != 0)
        return errno;
    if ((st.stx_mask & STATX_MNT_ID) == 0)
        return ENOSYS;
    status = {};
    status.st_dev = makedev(st.stx_dev_major, st.stx_dev_minor);
    status.st_ino = st.stx_ino;
    status.st_mode = st.stx_mode;
    status.st_nlink = st.stx_nlink;
    status.st_uid = st.stx_uid;
    status.st_gid = st.stx_gid;
    status.st_rdev = makedev(st.stx_rdev_major, st.stx_rdev_minor);
    status.st_size = static_cast<off_t>(st.stx_size);
    *mountId = st.stx_mnt_id;
    return 0;
}

int OpenTrustedPath(const std::string& path, int flags, UniqueFd& fd, struct stat& status,
                    std::string& refusedAt) {
    if (path.empty() || path[0] != '/')
        return EINVAL;
    const std::vector<std::string> names = ResolvedNames(path);
    UniqueFd current(::open("/", names.empty() ? flags | O_CLOEXEC : kStepFlags));
    struct stat currentStatus;
    if (!current.Valid() || ::fstat(current.Get(), &currentStatus) != 0)
        return errno;
    std::string walked;
    for (size_t i = 0; i < names.size(); ++i) {
        UniqueFd next;
        struct stat nextStatus;
        const int error =
            TrustedStep(current.Get(), currentStatus, walked, names[i],
                        i + 1 == names.size() ? flags : kStepFlags, next, nextStatus, refusedAt);
        if (error != 0)
            return error;
        current = std::move(next);
        currentStatus = nextStatus;
    }
    fd = std::move(current);
    status = currentStatus;
    return 0;
}

int OpenMountRoot(const std::string& path, uint64_t mountId, UniqueFd& mountRoot,
                  std::string& mountPoint, std::string& refusedAt) {
    UniqueFd current(::open("/", kStepFlags));
    if (!current.Valid())
        return errno;
    struct stat status;
    uint64_t currentMount = 0;
    int error = StatusOf(current.Get(), status, &currentMount);
    if (error != 0)
        return error;
    std::string walked;
    const std::vector<std::string> names = PathNames(path);
    for (auto name = names.begin(); currentMount != mountId; ++name) {
        if (name == names.end())
            return ENOENT;
        if (*name == "." || *name == "..")
            return EINVAL;
        UniqueFd next;
        struct stat nextStatus;
        error = TrustedStep(current.Get(), status, walked, *name, kStepFlags, next, nextStatus,
                            refusedAt, &currentMount);
        if (error == ELOOP)
            return EACCES;  // a link where the canonical path has a folder
        if (error != 0)
            return error;
        current = std::move(next);
        status = nextStatus;
    }
    mountRoot = std::move(current);
    mountPoint = walked.empty() ? "/" : walked;
    return 0;
}

}  // namespace quorlin
