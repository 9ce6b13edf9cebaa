// What lies below a PATH on other volumes: btrfs subvolumes, which a snapshot of PATH's
// volume shows as empty folders, and mounts, which it does not show at all. The nested
// btrfs volumes join the snapshot set (one instant for all); whatever cannot join (another
// file system type, a bind mount of a folder) is named in one warning line each.
#ifndef QUORLIN_TOOL_NESTED_VOLUMES_H
#define QUORLIN_TOOL_NESTED_VOLUMES_H

#include "Backup.h"

#include <string>
#include <vector>

namespace qtool {

// Something found below a PATH, at its original place.
struct NestedItem {
    enum Kind {
        kSubvolume,   // a btrfs subvolume, not mounted: its own volume
        kBtrfsMount,  // a btrfs subvolume mounted there: its own volume
        kReadOnly,    // a read-only subvolume (someone's snapshot), mounted or not: frozen
        kVanished,    // a subvolume that moved or vanished while it was looked up
        kUnopened,    // a subvolume that could not be opened (`error`)
        kFolderBind,  // a bind mount of a folder (not a volume's root) from elsewhere
        kOtherMount   // a file system of another type
    };
    std::string path;
    Kind kind = kSubvolume;
    std::string fileSystem;  // of a mount: its type ("tmpfs")
    std::string identity{};  // of a volume: what its snapshots name as their origin
    int error = 0;           // kUnopened: the errno value
};

// A nested volume that joins the set, with what tells a snapshot of it.
struct NestedVolume {
    std::string path;
    std::string identity;
    bool mounted = false;  // a volume mounted there, rather than a subvolume in its place
};

struct NestedVolumes {
    std::vector<NestedVolume> included;  // volume roots that join the set, parents first
    std::vector<std::string> warnings;   // one sentence per item left out
};

// The items below `source` (an absolute path without links; a file has none), as the
// platform finds them, in no order. No store of the snapshot service, reached by any path,
// is among them, nor anything below one.
std::vector<NestedItem> FindNestedItems(const std::string& source);

// What joins the set and what is left out, from `items` below `source`. With
// `oneFileSystem` nothing joins. An item below one left out is hidden with it and named
// once, as its parent.
NestedVolumes PlanNestedVolumes(const std::string& source, std::vector<NestedItem> items,
                                bool oneFileSystem);

// The nested volumes of all `sources` that join the set, each once and none that is a
// source itself; names each item left out on standard error, one line each.
std::vector<NestedVolume> NestedVolumesToJoin(const std::vector<std::string>& sources,
                                              bool oneFileSystem);

// Why `snapshot` (the root of a nested volume's snapshot) is not to be used: it is not a
// read-only snapshot of the volume of `identity`, or `place` (where the volume was, in the
// snapshot of the volume that holds it) shows no volume there. Empty when it is sound, and
// where the platform finds no nested volumes.
std::string NestedSnapshotProblem(const std::string& snapshot, const std::string& identity,
                                  const std::string& place, bool mounted);

// Whether the nested volume is no longer at its place (where the platform finds none, never).
bool NestedVolumeMoved(const NestedVolume& volume);

// Takes the set of `volumes` (the PATHs, then from `first` on the volumes `nested`, in order)
// and returns their snapshot paths. A nested volume that moved or vanished before the set was
// taken (and so failed it) is left out, named on standard error, and the set is taken again
// without it; one whose snapshot is not to be used (something was swapped in at its place, or
// it moved, while the snapshot was taken) is left out and named, its snapshot deleted with the
// set. Throws Failure as Backup::Start does.
std::vector<std::string> StartWithNested(Backup& backup, std::vector<std::string>& volumes,
                                         std::vector<NestedVolume>& nested, size_t first);

}  // namespace qtool

#endif  // QUORLIN_TOOL_NESTED_VOLUMES_H
