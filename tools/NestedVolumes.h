// What lies below a PATH on other volumes: btrfs subvolumes, which a snapshot of PATH's
// volume shows as empty folders, and mounts, which it does not show at all. The nested
// btrfs volumes join the snapshot set (one instant for all); whatever cannot join (another
// file system type, a bind mount of a folder) is named in one warning line each.
#ifndef QUORLIN_TOOL_NESTED_VOLUMES_H
#define QUORLIN_TOOL_NESTED_VOLUMES_H

#include <string>
#include <vector>

namespace qtool {

// Something found below a PATH, at its original place.
struct NestedItem {
    enum Kind {
        kSubvolume,   // a btrfs subvolume, not mounted: its own volume
        kBtrfsMount,  // a btrfs subvolume mounted there: its own volume
        kFolderBind,  // a bind mount of a folder (not a volume's root) from elsewhere
        kOtherMount   // a file system of another type
    };
    std::string path;
    Kind kind = kSubvolume;
    std::string fileSystem;  // of a mount: its type ("tmpfs")
};

struct NestedVolumes {
    std::vector<std::string> included;  // volume roots that join the set, parents first
    std::vector<std::string> warnings;  // one sentence per item left out
};

// The items below `source` (an absolute path without links; a file has none), as the
// platform finds them, in no order. The store of the snapshot service is never among them.
std::vector<NestedItem> FindNestedItems(const std::string& source);

// What joins the set and what is left out, from `items` below `source`. With
// `oneFileSystem` nothing joins. An item below one left out is hidden with it and named
// once, as its parent.
NestedVolumes PlanNestedVolumes(const std::string& source, std::vector<NestedItem> items,
                                bool oneFileSystem);

// The nested volumes of all `sources` that join the set, each once and none that is a
// source itself; names each item left out on standard error, one line each.
std::vector<std::string> NestedVolumesToJoin(const std::vector<std::string>& sources,
                                             bool oneFileSystem);

// Throws Failure when a nested volume's snapshot (`snapshots[i]` of `volumes[i]`, the
// PATHs' first, from `first` on) is not a read-only snapshot of the volume found there:
// something was swapped in at its place meanwhile.
void CheckNestedSnapshots(const std::vector<std::string>& volumes,
                          const std::vector<std::string>& snapshots, size_t first);

}  // namespace qtool

#endif  // QUORLIN_TOOL_NESTED_VOLUMES_H
