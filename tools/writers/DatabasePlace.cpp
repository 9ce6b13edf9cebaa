#include "DatabasePlace.h"

#include "base/PathNames.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sqlitewriter {
namespace {

// A folder on the way, as it was opened.
struct Folder {
    std::string path;
    struct stat status;
};

std::string Uid(uid_t uid) { return "uid " + std::to_string(uid); }

}  // namespace

Place CheckDatabasePlace(const std::string& path, std::string& why) {
    const std::vector<std::string> names = quorlin::PathNames(path);
    for (const std::string& name : names)
        if (name == "." || name == "..") {
            why = path + " is refused: name it without \".\" or \"..\"";
            return Place::kRefused;
        }
    if (path.empty() || path[0] != '/' || names.empty()) {
        why = path + " is refused: it names no file";
        return Place::kRefused;
    }
    std::vector<Folder> folders;
    int fd = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    folders.push_back({"/", {}});
    for (size_t i = 0;; ++i) {
        if (fd < 0 || ::fstat(fd, &folders.back().status) != 0) {
            if (fd >= 0)
                ::close(fd);
            why = path + " is refused: cannot open " + folders.back().path + " (" +
                  std::strerror(errno) + ")";
            return Place::kRefused;
        }
        const std::string& name = names[i];
        const std::string shown = (i == 0 ? "" : folders.back().path) + "/" + name;
        if (i + 1 == names.size()) {
            struct stat database;
            const int error =
                ::fstatat(fd, name.c_str(), &database, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
            ::close(fd);
            if (error == ENOENT)
                return Place::kMissing;
            if (error != 0 || !S_ISREG(database.st_mode)) {
                why = path + (error != 0 ? std::string(" is refused: ") + std::strerror(error)
                                         : std::string(" is refused: it is ") +
                                               (S_ISLNK(database.st_mode) ? "a symbolic link"
                                                                          : "not a regular file"));
                return Place::kRefused;
            }
            // Its own folder, where SQLite makes its other files, and every folder above.
            const uid_t owner = database.st_uid;
            for (size_t k = folders.size(); k-- > 0;) {
                const struct stat& folder = folders[k].status;
                const bool own = k + 1 == folders.size();
                // In a sticky folder only an entry's owner (and root) may remove or rename it;
                // the database's own folder must take no one else's files beside it.
                const uid_t next = own ? owner : folders[k + 1].status.st_uid;
                const bool guarded =
                    !own && (folder.st_mode & S_ISVTX) != 0 && (next == 0 || next == owner);
                const bool foreign = folder.st_uid != 0 && folder.st_uid != owner;
                if (!foreign && ((folder.st_mode & 022) == 0 || guarded))
                    continue;
                why = path + " is refused: " + folders[k].path +
                      (foreign ? " belongs to " + Uid(folder.st_uid)
                               : std::string(" may be written by others")) +
                      ", who could put another file in its place (the database belongs to " +
                      Uid(owner) + "; only root and its owner may change the folders on its way)";
                return Place::kRefused;
            }
            return Place::kAllowed;
        }
        const int next = ::openat(fd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        ::close(fd);
        if (next < 0) {
            if (error == ENOENT)
                return Place::kMissing;
            why = path + " is refused: " + shown +
                  (error == ELOOP || error == ENOTDIR
                       ? " is no folder (a link?)"
                       : " cannot be opened (" + std::string(std::strerror(error)) + ")");
            return Place::kRefused;
        }
        fd = next;
        folders.push_back({shown, {}});
    }
}

}  // namespace sqlitewriter
