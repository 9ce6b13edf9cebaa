// How a store of the snapshot service (SnapshotStore.h) is told from anything else that a
// walk of a file system meets, by whatever path: its name, and that it is root's. Header-only:
// the service and the command (which links only the public library) tell it alike, so that no
// store, nor one left half made, ever joins a set, a view or a copy.
#ifndef QUORLIN_BASE_POSIX_STORE_IDENTITY_H
#define QUORLIN_BASE_POSIX_STORE_IDENTITY_H

#include <cstring>
#include <string>
#include <sys/stat.h>

namespace quorlin {

// The store's name at the root of a mount.
inline constexpr char kStoreDirectoryName[] = ".quorlin";
// A store being made is a subvolume named kStoreDirectoryName, this, and a random identity,
// until it is closed to others and renamed.
inline constexpr char kStoreInMakingMark[] = ".new-";
// At a sticky mount root that everyone may write (as /tmp), where anyone could make the
// store's name first, the store is named kStoreDirectoryName, this, and a random identity:
// a name no user can foresee.
inline constexpr char kUnforeseeableStoreMark[] = "-";

enum class StoreName { kNone, kPlain, kUnforeseeable, kInMaking };

// Which of the store's names `name` is.
inline StoreName StoreNameKind(const char* name) {
    const size_t length = sizeof kStoreDirectoryName - 1;
    if (std::strncmp(name, kStoreDirectoryName, length) != 0)
        return StoreName::kNone;
    const char* rest = name + length;
    if (*rest == '\0')
        return StoreName::kPlain;
    if (std::strncmp(rest, kStoreInMakingMark, sizeof kStoreInMakingMark - 1) == 0)
        return StoreName::kInMaking;
    if (std::strncmp(rest, kUnforeseeableStoreMark, sizeof kUnforeseeableStoreMark - 1) == 0)
        return StoreName::kUnforeseeable;
    return StoreName::kNone;
}

// The first name in `path` that is one of the store's names: the offset of the '/' before
// it, with its length in `length`; std::string::npos when no name of `path` is one. Tells
// a path that runs through a store, whichever of its names the store has.
inline size_t FindStoreName(const std::string& path, size_t& length) {
    for (size_t at = path.find('/'); at != std::string::npos; at = path.find('/', at + 1)) {
        const size_t end = path.find('/', at + 1);
        const std::string name =
            path.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
        if (StoreNameKind(name.c_str()) != StoreName::kNone) {
            length = name.size();
            return at;
        }
    }
    return std::string::npos;
}

// Whether the entry `name` of a folder (with the status `entry`, not followed) is one of the
// service's stores or one being made: a folder of root's under one of their names (the
// service makes a subvolume; root may make the store as a plain folder first), the store
// closed to everyone else. A user's folder of that name is the user's.
inline bool IsStoreEntry(const char* name, const struct stat& entry) {
    const StoreName kind = StoreNameKind(name);
    if (kind == StoreName::kNone || !S_ISDIR(entry.st_mode) || entry.st_uid != 0)
        return false;
    return kind == StoreName::kInMaking || (entry.st_mode & 077) == 0;
}

}  // namespace quorlin

#endif
