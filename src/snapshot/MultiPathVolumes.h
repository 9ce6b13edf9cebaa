// The per-path volumes of a multi-path snapshot.
#ifndef QUORLIN_SNAPSHOT_MULTI_PATH_VOLUMES_H
#define QUORLIN_SNAPSHOT_MULTI_PATH_VOLUMES_H

#include "Quorlin.h"
#include "platform/Requester.h"

#include <string>
#include <vector>

namespace quorlin {

// Where the input paths lie: the absolute form of each and the root of its volume.
// The roots are held here because a _Snapshot_Volume holds only MAX_PATH units and a
// root on Linux may be longer.
struct PathPlaces {
    std::vector<std::wstring> fullPaths;  // one per path
    std::vector<size_t> rooms;            // per path: the room promised to its snapshot path
    std::vector<std::wstring> roots;      // each distinct volume root once
    std::vector<size_t> rootOf;           // per path: the index of its root in `roots`
};

// Appends one entry per path to `volumes`, in input order, and where each path lies
// to `places`. Each distinct volume root (exact, case-sensitive text) is added to the
// snapshot set once, at its first path (AddToSnapshotSet at `addSite`); later paths
// on it share its snapshot identity. An entry's volumePath holds the root when it
// fits, and is empty otherwise. An index from volume root to its first entry gives
// the same entries as searching them from the first, in time that does not grow
// with the number of entries. The host's lookups run in one session
// (Host::BeginVolumeLookups) for the whole list, and the block of new entries is
// announced to it before they are written (Host::AdviseBulkWrite).
void AddVolumesOf(BackupComponents& components, wchar_t* const* sourcePaths, size_t count,
                  int addSite, std::vector<_Snapshot_Volume>& volumes, PathPlaces& places);

// Writes the snapshot path of path j into `snapshotPaths[j]`, in order, asking for
// the properties of its volume's snapshot each time (GetSnapshotProperties at
// `propertiesSite`). A failure at path j leaves buffers 0 to j-1 written.
void WriteSnapshotPaths(BackupComponents& components, const std::vector<_Snapshot_Volume>& volumes,
                        const PathPlaces& places, wchar_t* const* snapshotPaths,
                        int propertiesSite);

}  // namespace quorlin

#endif
