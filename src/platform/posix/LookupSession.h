// Path and volume lookups in bulk: what ResolvePath and LookupVolumeRoot answer, for many
// paths in a row, at a fraction of their cost.
//
// A session remembers each folder that its paths name (and their ancestors): its
// resolution, and the folder whose volume it shares. A folder is derived from its parent
// with one stat of its name, as a path is from its folder; each lookup then costs one
// look at the mount table's change notice (poll) and that one stat. Symbolic links, mount
// points and subvolume roots as names, and everything the derivation does not cover
// (".", "..", long paths, errors), take the general way. A mount made or removed meanwhile
// makes the session forget everything; a missing folder is checked again at every lookup,
// so a folder that appears between two lookups is seen. A folder that exists keeps the
// place the session first found for it: a rename of the folder or of its ancestors after
// that does not move the paths in it.
#ifndef QUORLIN_PLATFORM_POSIX_LOOKUP_SESSION_H
#define QUORLIN_PLATFORM_POSIX_LOOKUP_SESSION_H

#include "platform/posix/MountTableCache.h"
#include "platform/posix/PathResolution.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace quorlin {

class LookupSession {
public:
    // What ResolvePath answers for `path`.
    int Resolve(const std::string& path, std::string& resolved);
    // What LookupVolumeRoot answers for the resolution of `path`.
    int VolumeRoot(const std::string& path, std::string& root);

private:
    struct Folder {
        std::string resolved;  // its ResolvePath
        ResolutionWalk walk;
        // The folder whose volume this one shares (itself when it may be a volume root
        // of its own), and that folder's LookupVolumeRoot once asked for.
        Folder* volumeFolder = nullptr;
        bool rootKnown = false;
        int rootError = 0;
        std::string root;
    };
    // What the last lookup that took the fast way found.
    struct Found {
        Folder* folder = nullptr;  // null: the last lookup took the general way
        std::string resolved;
        bool canonical = false;  // resolving `resolved` again gives it back
        bool ownRoot = false;    // the name may be a volume root of its own
    };

    // Whether the mount table is read and current (reading it again, and forgetting all
    // folders, when a mount changed). False when it cannot be read.
    bool MountsCurrent();
    // The folder written `text`, derived from the nearest one known; null when its
    // resolution fails (the general way reports that).
    Folder* FolderOf(const std::string& text);
    // The resolution of `name` in `folder` into `resolved`, whether it is missing and
    // whether it may be a volume root of its own; false when it must take the general way.
    bool ResolveName(const Folder& folder, const char* name, size_t length, std::string& resolved,
                     bool& missing, bool& ownRoot);
    // The fast way for `path`, into found_; false (and found_.folder null) when the path
    // must take the general way.
    bool ResolveFast(const std::string& path);
    int RootOfFound(std::string& root);

    std::shared_ptr<const MountTableCopy> mounts_;  // as the last lookup saw it
    std::unordered_map<std::string, Folder> folders_;
    Found found_;
    std::string absolute_, folderText_;  // kept for their room
};

}  // namespace quorlin

#endif
