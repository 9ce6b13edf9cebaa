#include "platform/posix/btrfs/BtrfsVolume.h"

#include "base/posix/BtrfsIoctl.h"
#include "platform/posix/btrfs/ErrnoResult.h"
#include "platform/posix/btrfs/SnapshotStore.h"
#include "base/posix/TrustedPath.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>

namespace quorlin {

namespace {

const int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
const char kRedirectable[] = "a user other than root could redirect snapshot paths at";

// The root of the volume's mount (`mountId`) and the store there, reached through folders
// that only root can change.
HRESULT OpenStoreOf(BtrfsVolume& volume, uint64_t mountId) {
    std::string refusedAt;
    int error = OpenMountRoot(volume.path, mountId, volume.mountRoot, volume.mountPoint, refusedAt);
    if (error == EACCES)
        return ReportErrno(kRedirectable, refusedAt, error);
    if (error != 0)
        return ReportErrno("finding the mount of", volume.path, error);
    bool mountRootBlamed = false;
    error = OpenStore(volume.mountRoot.Get(), volume.store, volume.storeName, &mountRootBlamed);
    if (error == EACCES && mountRootBlamed)
        return ReportErrno(kRedirectable, volume.mountPoint, error);
    if (error == EACCES)
        return ReportErrno("only root may own, enter and replace the snapshot store",
                           StorePath(volume.mountPoint), error);
    if (error != 0 && error != ENOENT)
        return ReportErrno("opening", StorePath(volume.mountPoint), error);
    return S_OK;
}

// Volume names are most often canonical already (GetVolumePathName gives them so): the
// folder is opened by the name, and the kernel's path of what was opened tells whether the
// name was canonical, in two calls instead of one per name on the way. False, with nothing
// open, when it was not (or cannot be told): the name is then resolved first.
bool OpenCanonical(const std::string& name, BtrfsVolume& volume) {
    const size_t end = name.find_last_not_of('/');
    const std::string path = end == std::string::npos ? "/" : name.substr(0, end + 1);
    UniqueFd root(::open(path.c_str(), kDirectoryFlags | O_NOFOLLOW));
    if (!root.Valid())
        return false;
    char opened[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(root.Get());
    const ssize_t length = ::readlink(link.c_str(), opened, sizeof opened);
    if (length <= 0 || static_cast<size_t>(length) != path.size() ||
        path.compare(0, path.size(), opened, static_cast<size_t>(length)) != 0)
        return false;
    volume.path = path;
    volume.root = std::move(root);
    return true;
}

}  // namespace

HRESULT OpenBtrfsVolume(const std::string& name, BtrfsVolume& volume) {
    if (name.empty() || name[0] != '/')
        return E_INVALIDARG;
    if (!OpenCanonical(name, volume)) {
        char canonical[PATH_MAX];
        if (::realpath(name.c_str(), canonical) == nullptr)
            return errno == ENOENT || errno == ENOTDIR ? VSS_E_OBJECT_NOT_FOUND
                                                       : ReportErrno("resolving", name, errno);
        volume.path = canonical;
        volume.root.Reset(::open(canonical, kDirectoryFlags | O_NOFOLLOW));
        if (!volume.root.Valid())
            return errno == ENOTDIR ? VSS_E_VOLUME_NOT_SUPPORTED
                                    : ReportErrno("opening", volume.path, errno);
    }
    struct stat st;
    uint64_t mountId = 0;
    struct statfs fs;
    int error = StatusOf(volume.root.Get(), st, &mountId);
    if (error == 0 && ::fstatfs(volume.root.Get(), &fs) != 0)
        error = errno;
    if (error != 0)
        return ReportErrno("examining", volume.path, error);
    if (!IsSubvolumeRoot(fs, st))
        return VSS_E_VOLUME_NOT_SUPPORTED;
    volume.device = st.st_dev;
    volume.inode = st.st_ino;
    error = FileSystemIdOf(volume.root.Get(), volume.fileSystem);
    if (error != 0)
        return ReportErrno("examining", volume.path, error);
    if ((fs.f_flags & ST_RDONLY) != 0)
        return ReportErrno("snapshotting", volume.path, EROFS);
    return OpenStoreOf(volume, mountId);
}

}  // namespace quorlin
