#include "platform/posix/btrfs/TrustedPath.h"

#include "platform/posix/TextFields.h"

#include <cerrno>
#include <fcntl.h>
#include <vector>

namespace quorlin {

namespace {

const int kStepFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Group and others: an ACL that lets a named user write shows as the group's bit.
const mode_t kWritableByOthers = S_IWGRP | S_IWOTH;

}  // namespace

bool OnlyRootCanWrite(const struct stat& folder) {
    return folder.st_uid == 0 && (folder.st_mode & kWritableByOthers) == 0;
}

bool OnlyRootCanReplace(const struct stat& folder, const struct stat& entry) {
    return OnlyRootCanWrite(folder) ||
           (folder.st_uid == 0 && (folder.st_mode & S_ISVTX) != 0 && entry.st_uid == 0);
}

int MountIdOf(int fd, uint64_t& id) {
    struct statx st;
    if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_MNT_ID, &st) != 0)
        return errno;
    if ((st.stx_mask & STATX_MNT_ID) == 0)
        return ENOSYS;
    id = st.stx_mnt_id;
    return 0;
}

int OpenMountRoot(const std::string& path, uint64_t mountId, UniqueFd& mountRoot,
                  std::string& mountPoint, std::string& refusedAt) {
    UniqueFd current(::open("/", kStepFlags));
    struct stat status;
    uint64_t currentMount = 0;
    if (!current.Valid() || ::fstat(current.Get(), &status) != 0)
        return errno;
    int error = MountIdOf(current.Get(), currentMount);
    if (error != 0)
        return error;
    std::string walked;
    const std::vector<std::string> names = SplitFields(path, '/', true);
    for (auto name = names.begin(); currentMount != mountId; ++name) {
        if (name == names.end())
            return ENOENT;
        if (*name == "." || *name == "..")
            return EINVAL;
        const std::string parent = walked.empty() ? "/" : walked;
        walked += "/" + *name;
        UniqueFd next(::openat(current.Get(), name->c_str(), kStepFlags));
        if (!next.Valid()) {
            if (errno != ELOOP)
                return errno;
            refusedAt = walked;  // a link where the canonical path has a folder
            return EACCES;
        }
        struct stat nextStatus;
        if (::fstat(next.Get(), &nextStatus) != 0)
            return errno;
        if (!OnlyRootCanReplace(status, nextStatus)) {
            refusedAt = parent;
            return EACCES;
        }
        error = MountIdOf(next.Get(), currentMount);
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
