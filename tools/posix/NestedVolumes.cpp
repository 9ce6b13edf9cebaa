#include "NestedVolumes.h"

#include "SourcePath.h"
#include "base/PathNames.h"
#include "base/posix/BtrfsIoctl.h"
#include "base/posix/MountTable.h"
#include "base/posix/StoreIdentity.h"
#include "base/posix/UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/btrfs.h>
#include <linux/btrfs_tree.h>
#include <linux/magic.h>
#include <memory>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>

namespace qtool {

using quorlin::UniqueFd;
namespace {

// The empty folder that a snapshot shows where a subvolume was has this inode number.
const ino_t kSubvolumePlaceInode = BTRFS_EMPTY_SUBVOL_DIR_OBJECTID;
// How often a subvolume that moved while it was looked up is looked up again.
const int kLookups = 3;

// The mounts that show; none when the mount table cannot be read.
std::vector<quorlin::Mount> ReadMounts() {
    std::vector<quorlin::Mount> mounts;
    if (quorlin::ReadMountTable(mounts) != 0)
        return {};
    return quorlin::ShownMounts(mounts);
}

bool Below(const std::string& path, const std::string& folder) {
    return path != folder && AtOrBelow(path, folder);
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

bool OnBtrfs(int fd) {
    struct statfs status;
    return fstatfs(fd, &status) == 0 && status.f_type == BTRFS_SUPER_MAGIC;
}

bool IsSubvolumeRoot(int fd) {
    struct statfs fileSystem;
    struct stat status;
    return fstatfs(fd, &fileSystem) == 0 && fstat(fd, &status) == 0 &&
           quorlin::IsSubvolumeRoot(fileSystem, status);
}

// What btrfs tells of the subvolume whose root `fd` is; false when it tells nothing.
bool SubvolumeInfo(int fd, btrfs_ioctl_get_subvol_info_args& info) {
    return quorlin::SubvolumeInfoOf(fd, info) == 0;
}

std::string Identity(const btrfs_ioctl_get_subvol_info_args& info) {
    return std::string(reinterpret_cast<const char*>(info.uuid), sizeof info.uuid);
}

NestedItem Item(const std::string& path, NestedItem::Kind kind, const std::string& fileSystem,
                const std::string& identity = "", int error = 0) {
    NestedItem item;
    item.path = path;
    item.kind = kind;
    item.fileSystem = fileSystem;
    item.identity = identity;
    item.error = error;
    return item;
}

// Raises the limit of open descriptors as far as it goes while the walk lasts (it holds one
// for each level of nesting), and puts it back after: the command runs with the usual one.
class OpenFilesLimit {
public:
    OpenFilesLimit() {
        saved_ = getrlimit(RLIMIT_NOFILE, &limit_) == 0;
        if (saved_ && limit_.rlim_cur < limit_.rlim_max) {
            struct rlimit raised = {limit_.rlim_max, limit_.rlim_max};
            setrlimit(RLIMIT_NOFILE, &raised);
        }
    }
    ~OpenFilesLimit() {
        if (saved_)
            setrlimit(RLIMIT_NOFILE, &limit_);
    }
    OpenFilesLimit(const OpenFilesLimit&) = delete;
    OpenFilesLimit& operator=(const OpenFilesLimit&) = delete;

private:
    struct rlimit limit_ = {};
    bool saved_ = false;
};

// The subvolumes below a folder, walked depth first with a stack on the heap: one frame,
// holding its folder open, for each level of nesting, however deep users nest them.
// Each frame asks the kernel for its own children only (GET_SUBVOL_ROOTREF and
// INO_LOOKUP_USER work for any user and read no name), and a child is opened one name at
// a time from its parent's descriptor. libbtrfsutil's subvolume iterator was tried here
// and not kept: for a caller without CAP_SYS_ADMIN it opens each listed subvolume by its
// whole path (following links, without O_NONBLOCK, so a FIFO put in its place by another
// user hangs the walk), cannot start below a folder that is not a subvolume's root, and
// keeps a copy of the descriptor it is given; as root it searches the trees of every
// subvolume of the file system, in or out of the folder, which made the walk 1.2 to 6
// times slower on the trees of bench/nested_walk_bench.
class SubvolumeSearch {
public:
    explicit SubvolumeSearch(std::vector<NestedItem>& items)
        : items_(items),
          refs_(std::make_unique<btrfs_ioctl_get_subvol_rootref_args>()),
          lookup_(std::make_unique<btrfs_ioctl_ino_lookup_user_args>()) {}

    // Adds the subvolumes whose place lies below the folder `folderFd` at `path`, and
    // those below them.
    void Below(int folderFd, const std::string& path) {
        UniqueFd folder(fcntl(folderFd, F_DUPFD_CLOEXEC, 0));
        if (!folder.Valid())
            return;
        Push(std::move(folder), path);
        while (!stack_.empty()) {
            Frame& top = stack_.back();
            if (top.next == top.children.size()) {
                stack_.pop_back();
                continue;
            }
            const Child child = top.children[top.next++];
            Visit(top, child);
        }
    }

private:
    struct Child {
        uint64_t id;
        uint64_t folderInode;  // of the folder that holds its entry, in the parent
    };
    struct Frame {
        UniqueFd folder;
        std::string path;
        std::vector<Child> children;
        size_t next = 0;
    };

    void Push(UniqueFd folder, const std::string& path) {
        Frame frame{std::move(folder), path, {}, 0};
        *refs_ = {};
        for (;;) {
            int result = ioctl(frame.folder.Get(), BTRFS_IOC_GET_SUBVOL_ROOTREF, refs_.get());
            if (result != 0 && errno != EOVERFLOW)
                break;
            for (int i = 0; i < refs_->num_items; ++i)
                frame.children.push_back({refs_->rootref[i].treeid, refs_->rootref[i].dirid});
            if (result == 0)
                break;
            refs_->num_items = 0;  // the kernel has moved min_treeid on
        }
        stack_.push_back(std::move(frame));
    }

    // The path of `child` relative to the folder of `frame`; false when it is not linked
    // below it (any more).
    bool LookUp(const Frame& frame, const Child& child, std::string& relative) {
        *lookup_ = {};
        lookup_->dirid = child.folderInode;
        lookup_->treeid = child.id;
        if (ioctl(frame.folder.Get(), BTRFS_IOC_INO_LOOKUP_USER, lookup_.get()) != 0)
            return false;
        relative = std::string(lookup_->path) + lookup_->name;
        return true;
    }

    // Opens `relative` from `folderFd` one name at a time, following no link; `place`
    // becomes its path from `path`. Fails with ENOENT at a store of the service on the way.
    static UniqueFd Open(int folderFd, const std::string& path, const std::string& relative,
                         std::string& place, bool& store) {
        UniqueFd current(fcntl(folderFd, F_DUPFD_CLOEXEC, 0));
        place = path;
        store = false;
        for (const std::string& name : quorlin::PathNames(relative)) {
            if (!current.Valid())
                break;
            place = Join(place, name);
            current.Reset(openat(current.Get(), name.c_str(),
                                 O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            struct stat status;
            if (current.Valid() && fstat(current.Get(), &status) == 0 &&
                quorlin::IsStoreEntry(name.c_str(), status)) {
                store = true;
                return UniqueFd();
            }
        }
        return current;
    }

    void Visit(const Frame& frame, const Child& child) {
        std::string place;
        int error = 0;
        for (int lookup = 0; lookup < kLookups; ++lookup) {
            std::string relative;
            if (!LookUp(frame, child, relative))
                return;  // no longer below the folder: not part of the tree
            bool store = false;
            UniqueFd opened = Open(frame.folder.Get(), frame.path, relative, place, store);
            if (store)
                return;
            if (!opened.Valid()) {
                error = errno;  // moved meanwhile: look again
                continue;
            }
            btrfs_ioctl_get_subvol_info_args info;
            // Only where the subvolume shows: a mount over its place, or above, hides it.
            if (!IsSubvolumeRoot(opened.Get()) || !SubvolumeInfo(opened.Get(), info) ||
                info.treeid != child.id)
                return;
            if ((info.flags & BTRFS_ROOT_SUBVOL_RDONLY) != 0) {
                items_.push_back(Item(place, NestedItem::kReadOnly, "btrfs"));
                return;
            }
            items_.push_back(Item(place, NestedItem::kSubvolume, "btrfs", Identity(info)));
            Push(std::move(opened), place);
            return;
        }
        bool vanished = error == ENOENT || error == ENOTDIR || error == ELOOP;
        items_.push_back(Item(place, vanished ? NestedItem::kVanished : NestedItem::kUnopened,
                              "btrfs", "", error));
    }

    std::vector<NestedItem>& items_;
    std::vector<Frame> stack_;
    // The kernel's answers, 4 KiB each: on the heap, once.
    std::unique_ptr<btrfs_ioctl_get_subvol_rootref_args> refs_;
    std::unique_ptr<btrfs_ioctl_ino_lookup_user_args> lookup_;
};

}  // namespace

std::vector<NestedItem> FindNestedItems(const std::string& source) {
    std::vector<NestedItem> items;
    UniqueFd folder(open(source.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.Valid())
        return items;  // a file: nothing lies below it
    OpenFilesLimit limit;
    const std::vector<quorlin::Mount> mounts = ReadMounts();
    SubvolumeSearch search(items);
    if (OnBtrfs(folder.Get()))
        search.Below(folder.Get(), source);
    for (const quorlin::Mount& mount : mounts) {
        if (!Below(mount.mountPoint, source))
            continue;
        UniqueFd root(
            open(mount.mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        bool btrfs = mount.fileSystemType == "btrfs";
        btrfs_ioctl_get_subvol_info_args info;
        if (btrfs && root.Valid() && IsSubvolumeRoot(root.Get()) &&
            SubvolumeInfo(root.Get(), info)) {
            bool readOnly = (info.flags & BTRFS_ROOT_SUBVOL_RDONLY) != 0;
            items.push_back(Item(mount.mountPoint,
                                 readOnly ? NestedItem::kReadOnly : NestedItem::kBtrfsMount,
                                 mount.fileSystemType, Identity(info)));
            if (!readOnly)
                search.Below(root.Get(), mount.mountPoint);
        } else if (btrfs || mount.root != "/") {
            items.push_back(Item(mount.mountPoint, NestedItem::kFolderBind, mount.fileSystemType));
        } else {
            items.push_back(Item(mount.mountPoint, NestedItem::kOtherMount, mount.fileSystemType));
        }
    }
    return items;
}

std::string NestedSnapshotProblem(const std::string& snapshot, const std::string& identity,
                                  const std::string& place, bool mounted) {
    const char kMoved[] = "it moved or vanished while the snapshot was taken";
    UniqueFd root(open(snapshot.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    btrfs_ioctl_get_subvol_info_args info;
    if (!root.Valid() || !IsSubvolumeRoot(root.Get()) || !SubvolumeInfo(root.Get(), info) ||
        (info.flags & BTRFS_ROOT_SUBVOL_RDONLY) == 0)
        return kMoved;
    if (identity.size() != sizeof info.uuid ||
        std::memcmp(info.parent_uuid, identity.data(), sizeof info.uuid) != 0)
        return "another volume was put in its place while the snapshot was taken";
    struct stat status;
    if (!place.empty() && (lstat(place.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
                           (!mounted && status.st_ino != kSubvolumePlaceInode)))
        return kMoved;
    return "";
}

bool NestedVolumeMoved(const NestedVolume& volume) {
    UniqueFd root(open(volume.path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    btrfs_ioctl_get_subvol_info_args info;
    return !root.Valid() || !IsSubvolumeRoot(root.Get()) || !SubvolumeInfo(root.Get(), info) ||
           Identity(info) != volume.identity;
}

}  // namespace qtool
