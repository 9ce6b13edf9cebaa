#include "platform/posix/btrfs/BtrfsVolume.h"

#include "platform/posix/btrfs/BtrfsIoctl.h"
#include "platform/posix/btrfs/ErrnoResult.h"
#include "platform/posix/MountTable.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace quorlin {

namespace {

const int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

}  // namespace

HRESULT OpenBtrfsVolume(const std::string& name, BtrfsVolume& volume) {
    if (name.empty() || name[0] != '/')
        return E_INVALIDARG;
    char canonical[PATH_MAX];
    if (::realpath(name.c_str(), canonical) == nullptr)
        return errno == ENOENT || errno == ENOTDIR ? VSS_E_OBJECT_NOT_FOUND
                                                   : ReportErrno("resolving", name, errno);
    volume.path = canonical;

    volume.root.Reset(::open(canonical, kDirectoryFlags | O_NOFOLLOW));
    if (!volume.root.Valid())
        return errno == ENOTDIR ? VSS_E_VOLUME_NOT_SUPPORTED
                                : ReportErrno("opening", volume.path, errno);
    bool isRoot = false;
    int error = IsSubvolumeRoot(volume.root.Get(), isRoot);
    if (error != 0)
        return ReportErrno("examining", volume.path, error);
    if (!isRoot)
        return VSS_E_VOLUME_NOT_SUPPORTED;
    struct stat st;
    if (::fstat(volume.root.Get(), &st) != 0)
        return ReportErrno("examining", volume.path, errno);
    volume.device = st.st_dev;
    volume.inode = st.st_ino;

    std::vector<Mount> mounts;
    error = ReadMountTable(mounts);
    if (error != 0)
        return ReportErrno("reading the mount table for", volume.path, error);
    const Mount* mount = FindMount(mounts, volume.path);
    if (mount == nullptr || mount->fileSystemType != "btrfs")
        return VSS_E_VOLUME_NOT_SUPPORTED;
    volume.mountPoint = mount->mountPoint;
    volume.mountRoot.Reset(::open(volume.mountPoint.c_str(), kDirectoryFlags));
    if (!volume.mountRoot.Valid())
        return ReportErrno("opening", volume.mountPoint, errno);
    struct statvfs fs;
    if (::fstatvfs(volume.mountRoot.Get(), &fs) != 0)
        return ReportErrno("examining", volume.mountPoint, errno);
    if ((fs.f_flag & ST_RDONLY) != 0)
        return VSS_E_VOLUME_NOT_SUPPORTED;
    return S_OK;
}

}  // namespace quorlin
