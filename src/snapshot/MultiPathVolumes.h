// The per-path volumes of a multi-path snapshot.
#ifndef QUORLIN_SNAPSHOT_MULTI_PATH_VOLUMES_H
#define QUORLIN_SNAPSHOT_MULTI_PATH_VOLUMES_H

#include "Quorlin.h"
#include "snapshot/Requester.h"

#include <string>
#include <vector>

namespace quorlin {

// Appends one entry per path to `volumes`, in input order, and the absolute form of
// each path to `fullPaths`. Each distinct volume path (exact, case-sensitive text) is
// added to the snapshot set once, at its first path (AddToSnapshotSet at `addSite`);
// later paths on it share its snapshot identity. An index from volume path to its
// first entry gives the same entries as searching them from the first, in time that
// does not grow with the number of entries.
void AddVolumesOf(BackupComponents& components, wchar_t* const* sourcePaths, size_t count,
                  int addSite, std::vector<_Snapshot_Volume>& volumes,
                  std::vector<std::wstring>& fullPaths);

// Writes the snapshot path of path j into `snapshotPaths[j]`, in order, asking for
// the properties of its volume's snapshot each time (GetSnapshotProperties at
// `propertiesSite`). A failure at path j leaves buffers 0 to j-1 written.
void WriteSnapshotPaths(BackupComponents& components, const std::vector<_Snapshot_Volume>& volumes,
                        const std::vector<std::wstring>& fullPaths, wchar_t* const* snapshotPaths,
                        int propertiesSite);

}  // namespace quorlin

#endif
