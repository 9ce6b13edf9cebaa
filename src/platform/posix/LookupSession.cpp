#include "platform/posix/LookupSession.h"

#include "platform/posix/VolumeLookup.h"
#include "base/posix/BtrfsIoctl.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>

namespace quorlin {

namespace {

// The last name of the absolute `text` lies after `slash`, up to `end` (included);
// false for the root.
bool LastName(const std::string& text, size_t& slash, size_t& end) {
    end = text.find_last_not_of('/');
    if (end == std::string::npos)
        return false;
    slash = text.find_last_of('/', end);
    return slash != std::string::npos;
}

std::string ParentText(const std::string& text, size_t slash) {
    return slash == 0 ? "/" : text.substr(0, slash);
}

}  // namespace

bool LookupSession::MountsCurrent() {
    // The session lives within one call on one thread: the first lookup checks everything,
    // the later ones the change notice.
    std::shared_ptr<const MountTableCopy> table;
    if (CurrentMountTable(table, mounts_ ? MountTableCheck::kNoticeOnly : MountTableCheck::kFull) !=
        0) {
        mounts_.reset();
        return false;
    }
    if (!mounts_ || table->generation != mounts_->generation) {
        folders_.clear();
        found_.folder = nullptr;
    }
    mounts_ = std::move(table);
    return true;
}

bool LookupSession::ResolveName(const Folder& folder, const char* name, size_t length,
                                std::string& resolved, bool& missing, bool& ownRoot) {
    if (name[0] == '.' && (length == 1 || (length == 2 && name[1] == '.')))
        return false;
    resolved = folder.resolved;
    if (resolved.back() != '/')
        resolved += '/';
    resolved.append(name, length);
    if (resolved.size() >= PATH_MAX)
        return false;
    // A mount point of its own (perhaps one that another mount hides) or a subvolume root.
    ownRoot = mounts_->mountPoints.count(resolved) != 0;
    missing = true;
    if (!folder.walk.complete)
        return true;  // everything below a missing component is missing
    struct stat st;
    if (::fstatat(AT_FDCWD, resolved.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT || errno == ENOTDIR;
    if (S_ISLNK(st.st_mode))
        return false;
    missing = false;
    ownRoot = ownRoot || (S_ISDIR(st.st_mode) && st.st_ino == kSubvolumeRootInode);
    return true;
}

LookupSession::Folder* LookupSession::FolderOf(const std::string& text) {
    const auto same = folders_.find(text);
    if (same != folders_.end())
        return &same->second;
    // Up to the nearest folder known, or to one that cannot be derived from its parent...
    std::vector<std::string> unknown;
    Folder* folder = nullptr;
    for (std::string current = text;;) {
        const auto known = folders_.find(current);
        if (known != folders_.end()) {
            folder = &known->second;
            break;
        }
        size_t slash = 0, end = 0;
        const bool named = LastName(current, slash, end);
        unknown.push_back(current);
        if (!named)
            break;
        current = ParentText(current, slash);
    }
    // ...then down from it, each folder from its parent.
    for (auto it = unknown.rbegin(); it != unknown.rend(); ++it) {
        Folder made;
        size_t slash = 0, end = 0;
        bool missing = false, ownRoot = false;
        const bool derived = folder != nullptr && LastName(*it, slash, end) &&
                             ResolveName(*folder, it->data() + slash + 1, end - slash,
                                         made.resolved, missing, ownRoot);
        if (derived && missing && folder->walk.complete) {
            made.walk.complete = false;  // the first missing component
            made.walk.firstMissing = made.resolved;
        } else if (derived && missing) {
            made.walk = folder->walk;  // below the first missing component
        } else if (!derived && ResolvePath(*it, made.resolved, &made.walk) != 0) {
            return nullptr;
        }
        Folder& added = folders_.emplace(*it, std::move(made)).first->second;
        added.volumeFolder = derived && !ownRoot ? folder->volumeFolder : &added;
        folder = &added;
    }
    return folder;
}

bool LookupSession::ResolveFast(const std::string& path) {
    found_.folder = nullptr;
    const std::string* absolute = &path;
    if (path.empty() || path[0] != '/') {
        if (AbsolutePath(path, absolute_) != 0)
            return false;
        absolute = &absolute_;
    }
    size_t slash = 0, end = 0;
    if (!LastName(*absolute, slash, end) || !MountsCurrent())
        return false;  // the root itself, or no mount table to go by
    folderText_.assign(*absolute, 0, slash == 0 ? 1 : slash);
    Folder* folder = FolderOf(folderText_);
    if (folder == nullptr)
        return false;
    struct stat st;
    if (!folder->walk.complete && (::stat(folder->walk.firstMissing.c_str(), &st) == 0 ||
                                   (errno != ENOENT && errno != ENOTDIR))) {
        folders_.clear();  // a missing folder appeared: what was derived from it is wrong
        return false;
    }
    bool missing = false;
    if (!ResolveName(*folder, absolute->data() + slash + 1, end - slash, found_.resolved, missing,
                     found_.ownRoot))
        return false;
    found_.folder = folder;
    found_.canonical = folder->walk.canonical;
    return true;
}

int LookupSession::RootOfFound(std::string& root) {
    if (found_.ownRoot)
        return LookupVolumeRoot(found_.resolved, mounts_->mounts, root);
    Folder& owner = *found_.folder->volumeFolder;
    if (!owner.rootKnown) {
        owner.rootError = LookupVolumeRoot(owner.resolved, mounts_->mounts, owner.root);
        owner.rootKnown = true;
    }
    root = owner.root;
    return owner.rootError;
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
    return MountsCurrent() ? LookupVolumeRoot(resolved, mounts_->mounts, root)
                           : LookupVolumeRoot(resolved, root);
}

}  // namespace quorlin
