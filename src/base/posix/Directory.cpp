#include "base/posix/Directory.h"

#include "base/posix/UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace quorlin {

int ListDirectory(int fd, std::vector<std::string>& names, int extraFlags) {
    // A descriptor of its own, at the start, whatever `fd` has read; the entries straight
    // from the kernel (a directory stream costs five more calls).
    const UniqueFd folder(::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC | extraFlags));
    if (!folder.Valid())
        return errno;
    alignas(dirent64) char buffer[8192];
    for (;;) {
        const ssize_t bytes = ::getdents64(folder.Get(), buffer, sizeof buffer);
        if (bytes < 0 && errno == EINTR)
            continue;
        if (bytes <= 0)
            return bytes < 0 ? errno : 0;
        for (ssize_t at = 0; at < bytes;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            at += entry->d_reclen;
            const char* name = entry->d_name;
            if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0)
                names.emplace_back(name);
        }
    }
}

}  // namespace quorlin
