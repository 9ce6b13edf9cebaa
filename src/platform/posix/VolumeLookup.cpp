#include "platform/posix/VolumeLookup.h"

#include "platform/posix/MountTableCache.h"
#include "base/posix/BtrfsIoctl.h"

#include <cerrno>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <memory>
#include <vector>

namespace quorlin {

namespace {

std::string Parent(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

// The nearest subvolume root at or above `path` that is not above `mountPoint`; empty
// when the walk reaches the mount point without finding one (a bind mount of a plain
// directory). A missing tail of `path` is skipped.
int FindSubvolumeRoot(std::string path, const std::string& mountPoint, std::string& root) {
    root.clear();
    for (;;) {
        // By name: a lookup hands out a name, and nothing is opened through it here.
        struct statfs fs;
        struct stat st;
        if (::statfs(path.c_str(), &fs) == 0 && ::stat(path.c_str(), &st) == 0) {
            if (IsSubvolumeRoot(fs, st)) {
                root = path;
                return 0;
            }
        } else if (errno != ENOENT && errno != ENOTDIR) {
            return errno;
        }
        if (path == mountPoint || path == "/")
            return 0;
        path = Parent(path);
    }
}

}  // namespace

int LookupVolumeRoot(const std::string& resolved, std::string& root) {
    std::shared_ptr<const MountTableCopy> table;
    const int error = CurrentMountTable(table);
    return error != 0 ? error : LookupVolumeRoot(resolved, table->mounts, root);
}

int LookupVolumeRoot(const std::string& resolved, const std::vector<Mount>& mounts,
                     std::string& root) {
    const Mount* mount = FindMount(mounts, resolved);
    if (mount == nullptr)
        return ENOENT;
    std::string subvolume;
    if (mount->fileSystemType == "btrfs") {
        const int walkError = FindSubvolumeRoot(resolved, mount->mountPoint, subvolume);
        if (walkError != 0)
            return walkError;
    }
    root = subvolume.empty() ? mount->mountPoint : subvolume;
    if (root.back() != '/')
        root += '/';
    return 0;
}

}  // namespace quorlin
