#include "FileMetadata.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace qtool {
namespace {

[[noreturn]] void Fail(const char* what, const std::filesystem::path& path) {
    throw std::filesystem::filesystem_error(what, path,
                                            std::error_code(errno, std::generic_category()));
}

}  // namespace

void CopyMetadata(const std::filesystem::path& from, const std::filesystem::path& to) {
    struct stat status;
    if (lstat(from.c_str(), &status) != 0)
        Fail("cannot read the metadata of", from);
    // The owner first: changing it may clear the set-user-ID and set-group-ID bits.
    if (lchown(to.c_str(), status.st_uid, status.st_gid) != 0 && errno != EPERM)
        Fail("cannot set the owner of", to);
    if (!S_ISLNK(status.st_mode) && chmod(to.c_str(), status.st_mode & 07777) != 0)
        Fail("cannot set the permissions of", to);
    struct timespec times[2] = {status.st_atim, status.st_mtim};
    if (utimensat(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        Fail("cannot set the times of", to);
}

}  // namespace qtool
