#include "StoreInCopy.h"

#include "base/posix/Directory.h"
#include "base/posix/StoreIdentity.h"
#include "base/posix/UniqueFd.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace qtool {

// The btrfs service keeps its store (under any of its names) at the root of the mount that holds
// the volume, and a volume is a subvolume's root: a store lies at the root of a subvolume, as
// SOURCE or a nested volume's place is (reached through a mount of the subvolume or, on a file
// system mounted at its top, through the folders above). A snapshot shows it as an empty folder
// (the service's subvolume) or as it was (a folder that root made for it). A folder of that
// name that is not root's is a user's, and copied. The set is taken by then: the folder is
// read without changing its access time (where the system lets root or its owner), so that
// the source still shows the time that the copy keeps.
std::optional<std::filesystem::path> StoreInCopy(const std::filesystem::path& source) {
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int noAccessTime = O_NOATIME;
    quorlin::UniqueFd folder(open(source.c_str(), flags | noAccessTime));
    if (!folder.Valid() && errno == EPERM) {
        noAccessTime = 0;
        folder = quorlin::UniqueFd(open(source.c_str(), flags));
    }
    std::vector<std::string> names;
    if (!folder.Valid() || quorlin::ListDirectory(folder.Get(), names, noAccessTime) != 0)
        return std::nullopt;
    for (const std::string& name : names) {
        struct stat status;
        if (quorlin::StoreNameKind(name.c_str()) != quorlin::StoreName::kNone &&
            fstatat(folder.Get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            quorlin::IsStoreEntry(name.c_str(), status))
            return std::filesystem::path(name);
    }
    return std::nullopt;
}

}  // namespace qtool
