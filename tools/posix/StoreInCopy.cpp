#include "StoreInCopy.h"

#include "base/posix/StoreIdentity.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace qtool {

// The btrfs service keeps its store at the root of the mount that holds the volume, and a
// volume is a subvolume's root: a store lies at the root of a subvolume, as SOURCE or a
// nested volume's place is (reached through a mount of the subvolume or, on a file system
// mounted at its top, through the folders above). A snapshot shows it as an empty folder
// (the service's subvolume) or as it was (a folder that root made for it). A folder of that
// name that is not root's is a user's, and copied.
std::optional<std::filesystem::path> StoreInCopy(const std::filesystem::path& source) {
    const std::filesystem::path store = source / quorlin::kStoreDirectoryName;
    struct stat status;
    if (lstat(store.c_str(), &status) != 0 ||
        !quorlin::IsStoreEntry(quorlin::kStoreDirectoryName, status))
        return std::nullopt;
    return std::filesystem::path(quorlin::kStoreDirectoryName);
}

}  // namespace qtool
