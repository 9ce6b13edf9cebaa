#include "platform/posix/LookupSession.h"

#include "platform/posix/VolumeLookup.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>

namespace quorlin {

namespace {

// The root directory of every btrfs subvolume has this inode number.
const ino_t kSubvolumeRootInode = 256;

}  // namespace

bool LookupSession::MountsCurrent() {
    if (table_.Valid()) {
        pollfd notice = {table_.Get(), POLLPRI, 0};
        const int ready = ::poll(&notice, 1, 0);
        if (ready == 0)
            return true;
        if (ready < 0 || (notice.revents & (POLLPRI | POLLERR)) == 0) {
            table_.Reset();
            return false;
        }
    } else {
        table_.Reset(::open(kMountTablePath, O_RDONLY | O_CLOEXEC));
        if (!table_.Valid())
            return false;
    }
    folders_.clear();
    found_.folder = nullptr;
    mountPoints_.clear();
    if (ReadMountTable(table_.Get(), mounts_) != 0) {
        table_.Reset();
        return false;
    }
    for (const Mount& mount : mounts_)
        mountPoints_.insert(mount.mountPoint);
    return true;
}

LookupSession::Folder* LookupSession::FolderOf(const std::string& text) {
    const auto known = folders_.find(text);
    if (known != folders_.end())
        return &known->second;
    Folder folder;
    if (ResolvePath(text, folder.resolved, &folder.walk) != 0)
        return nullptr;  // the general way reports it
    return &folders_.emplace(text, std::move(folder)).first->second;
}

bool LookupSession::ResolveFast(const std::string& path) {
    found_.folder = nullptr;
    const std::string* absolute = &path;
    if (path.empty() || path[0] != '/') {
        if (AbsolutePath(path, absolute_) != 0)
            return false;
        absolute = &absolute_;
    }
    const size_t end = absolute->find_last_not_of('/');
    if (end == std::string::npos || !MountsCurrent())
        return false;  // the root itself, or no mount table to go by
    const size_t slash = absolute->find_last_of('/', end);
    const char* name = absolute->data() + slash + 1;
    const size_t nameLength = end - slash;
    if (name[0] == '.' && (nameLength == 1 || (nameLength == 2 && name[1] == '.')))
        return false;
    folderText_.assign(*absolute, 0, slash == 0 ? 1 : slash);
    Folder* folder = FolderOf(folderText_);
    if (folder == nullptr)
        return false;
    std::string& resolved = found_.resolved;
    resolved = folder->resolved;
    if (resolved.back() != '/')
        resolved += '/';
    resolved.append(name, nameLength);
    if (resolved.size() >= PATH_MAX)
        return false;

    // A mount point of its own (perhaps one that another mount hides) or a subvolume root.
    bool ownRoot = mountPoints_.count(resolved) != 0;
    struct stat st;
    if (!folder->walk.complete) {
        // Everything below a missing component is missing, as long as it still is.
        if (::stat(folder->walk.firstMissing.c_str(), &st) == 0 ||
            (errno != ENOENT && errno != ENOTDIR)) {
            folders_.erase(folderText_);
            return false;
        }
    } else if (::fstatat(AT_FDCWD, resolved.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode))
            return false;
        ownRoot = ownRoot || (S_ISDIR(st.st_mode) && st.st_ino == kSubvolumeRootInode);
    } else if (errno != ENOENT && errno != ENOTDIR) {
        return false;
    }
    found_.folder = folder;
    found_.ownRoot = ownRoot;
    found_.canonical = folder->walk.canonical;
    return true;
}

int LookupSession::RootOfFound(std::string& root) {
    if (found_.ownRoot)
        return LookupVolumeRoot(found_.resolved, mounts_, root);
    Folder& folder = *found_.folder;
    if (!folder.rootKnown) {
        folder.rootError = LookupVolumeRoot(folder.resolved, mounts_, folder.root);
        folder.rootKnown = true;
    }
    root = folder.root;
    return folder.rootError;
}

int LookupSession::Resolve(const std::string& path, std::string& resolved) {
    if (!ResolveFast(path))
        return ResolvePath(path, resolved);
    resolved = found_.resolved;
    return 0;
}

int LookupSession::VolumeRoot(const std::string& path, std::string& root) {
    // The workflows look up the volume of the path that the resolution just gave.
    if (found_.folder != nullptr && found_.canonical && path == found_.resolved)
        return RootOfFound(root);
    if (ResolveFast(path))
        return RootOfFound(root);
    std::string resolved;
    const int error = ResolvePath(path, resolved);
    if (error != 0)
        return error;
    return MountsCurrent() ? LookupVolumeRoot(resolved, mounts_, root)
                           : LookupVolumeRoot(resolved, root);
}

}  // namespace quorlin
