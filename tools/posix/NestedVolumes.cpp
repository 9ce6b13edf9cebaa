#include "NestedVolumes.h"

#include "posix/Fd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/btrfs.h>
#include <linux/magic.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>

namespace qtool {
namespace {

// The root folder of every btrfs subvolume has this inode number.
const ino_t kSubvolumeRootInode = 256;
// The snapshot service's store at the root of each mount.
const char kStoreName[] = ".quorlin";

struct MountEntry {
    std::string mountPoint;
    std::string root;  // the folder of its file system that the mount shows
    std::string fileSystem;
};

// A field of the mount table, with the octal escapes of space, tab, newline and backslash
// undone.
std::string Unescaped(const std::string& field) {
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
        bool octal = field[i] == '\\' && i + 3 < field.size();
        for (size_t j = 1; octal && j <= 3; ++j)
            octal = field[i + j] >= '0' && field[i + j] <= '7';
        if (octal) {
            text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                      (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

// The mounts that show, in table order: of several at one place, the last.
std::vector<MountEntry> ReadMounts() {
    std::vector<MountEntry> mounts;
    std::ifstream table("/proc/self/mountinfo");
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, root, mountPoint, field;
        fields >> id >> parent >> device >> root >> mountPoint;
        while (fields >> field && field != "-") {
        }
        MountEntry mount{Unescaped(mountPoint), Unescaped(root), ""};
        fields >> mount.fileSystem;
        for (auto it = mounts.begin(); it != mounts.end();)
            it = it->mountPoint == mount.mountPoint ? mounts.erase(it) : it + 1;
        mounts.push_back(mount);
    }
    return mounts;
}

bool Below(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           (folder == "/" || path[folder.size()] == '/');
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

bool OnBtrfs(int fd) {
    struct statfs status;
    return fstatfs(fd, &status) == 0 && status.f_type == BTRFS_SUPER_MAGIC;
}

bool IsSubvolumeRoot(int fd) {
    struct stat status;
    return OnBtrfs(fd) && fstat(fd, &status) == 0 && S_ISDIR(status.st_mode) &&
           status.st_ino == kSubvolumeRootInode;
}

bool SubvolumeId(int fd, uint64_t& id) {
    btrfs_ioctl_get_subvol_info_args info = {};
    // Some kernels answer 1 (a search that ended at the last item) with the answer filled in.
    if (ioctl(fd, BTRFS_IOC_GET_SUBVOL_INFO, &info) < 0)
        return false;
    id = info.treeid;
    return true;
}

class SubvolumeSearch {
public:
    SubvolumeSearch(const std::vector<MountEntry>& mounts, std::vector<NestedItem>& items)
        : mounts_(mounts), items_(items) {}

    // Adds the subvolumes whose place lies below the folder `folderFd` at `path`, and
    // those below them.
    void Below(int folderFd, const std::string& path) {
        btrfs_ioctl_get_subvol_rootref_args refs = {};
        for (;;) {
            int result = ioctl(folderFd, BTRFS_IOC_GET_SUBVOL_ROOTREF, &refs);
            if (result != 0 && errno != EOVERFLOW)
                return;
            for (int i = 0; i < refs.num_items; ++i)
                Child(folderFd, path, refs.rootref[i].treeid, refs.rootref[i].dirid);
            if (result == 0)
                return;
            refs.num_items = 0;  // the kernel has moved min_treeid on
        }
    }

private:
    void Child(int folderFd, const std::string& path, uint64_t id, uint64_t folderInode) {
        btrfs_ioctl_ino_lookup_user_args lookup = {};
        lookup.dirid = folderInode;
        lookup.treeid = id;
        // EACCES: the subvolume is not linked below `path`.
        if (ioctl(folderFd, BTRFS_IOC_INO_LOOKUP_USER, &lookup) != 0)
            return;
        std::string relative = std::string(lookup.path) + lookup.name;
        std::string place = path;
        for (size_t start = 0; start < relative.size();) {
            size_t end = relative.find('/', start);
            if (end == std::string::npos)
                end = relative.size();
            if (end > start)
                place = Join(place, relative.substr(start, end - start));
            start = end + 1;
        }
        for (const MountEntry& mount : mounts_)
            if (place == Join(mount.mountPoint, kStoreName))
                return;
        // Only where the subvolume shows: a mount over its place, or above, hides it.
        Fd child(
            openat(folderFd, relative.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        uint64_t shown = 0;
        if (!child.Valid() || !IsSubvolumeRoot(child.Get()) || !SubvolumeId(child.Get(), shown) ||
            shown != id)
            return;
        items_.push_back({place, NestedItem::kSubvolume, "btrfs"});
        Below(child.Get(), place);
    }

    const std::vector<MountEntry>& mounts_;
    std::vector<NestedItem>& items_;
};

}  // namespace

std::vector<NestedItem> FindNestedItems(const std::string& source) {
    std::vector<NestedItem> items;
    Fd folder(open(source.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.Valid())
        return items;  // a file: nothing lies below it
    std::vector<MountEntry> mounts = ReadMounts();
    SubvolumeSearch search(mounts, items);
    if (OnBtrfs(folder.Get()))
        search.Below(folder.Get(), source);
    for (const MountEntry& mount : mounts) {
        if (!Below(mount.mountPoint, source))
            continue;
        Fd root(open(mount.mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        bool btrfs = mount.fileSystem == "btrfs";
        if (btrfs && root.Valid() && IsSubvolumeRoot(root.Get())) {
            items.push_back({mount.mountPoint, NestedItem::kBtrfsMount, mount.fileSystem});
            search.Below(root.Get(), mount.mountPoint);
        } else if (btrfs || mount.root != "/") {
            items.push_back({mount.mountPoint, NestedItem::kFolderBind, mount.fileSystem});
        } else {
            items.push_back({mount.mountPoint, NestedItem::kOtherMount, mount.fileSystem});
        }
    }
    return items;
}

}  // namespace qtool
