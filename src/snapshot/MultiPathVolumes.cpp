#include "snapshot/MultiPathVolumes.h"

#include "platform/Platform.h"
#include "snapshot/WorkflowSteps.h"

#include <cwchar>
#include <unordered_map>

namespace quorlin {

namespace {

// The record's copy of a root: the root itself when it fits, else nothing.
void CopyRootInto(const std::wstring& root, _Snapshot_Volume& record) {
    const size_t room = sizeof record.volumePath / sizeof record.volumePath[0];
    if (root.size() < room)
        std::wmemcpy(record.volumePath, root.c_str(), root.size() + 1);
}

}  // namespace

void AddVolumesOf(BackupComponents& components, wchar_t* const* sourcePaths, size_t count,
                  int addSite, std::vector<_Snapshot_Volume>& volumes, PathPlaces& places) {
    const VolumeLookups lookups;
    std::unordered_map<std::wstring, size_t> rootIndex;  // root -> its index in places.roots
    std::vector<VSS_ID> snapshotOfRoot;                  // in the order of rootIndex
    std::vector<wchar_t> rootBuffer = NewVolumeRootBuffer();
    volumes.reserve(volumes.size() + count);
    // The records are large (a MAX_PATH buffer each): most of the memory the call writes.
    GetHost().AdviseBulkWrite(volumes.data() + volumes.size(), count * sizeof(_Snapshot_Volume));
    places.fullPaths.reserve(places.fullPaths.size() + count);
    places.rooms.reserve(places.rooms.size() + count);
    places.rootOf.reserve(places.rootOf.size() + count);
    for (size_t i = 0; i < count; ++i) {
        places.fullPaths.emplace_back();
        places.rooms.emplace_back();
        const wchar_t* root =
            LookUpVolume(sourcePaths[i], places.fullPaths.back(), places.rooms.back(), rootBuffer);
        const auto found = rootIndex.try_emplace(root, places.roots.size());
        if (found.second) {
            places.roots.push_back(found.first->first);
            snapshotOfRoot.push_back(GUID_NULL);
            AddToSnapshotSet(components, root, snapshotOfRoot.back(), addSite);
        }
        const size_t index = found.first->second;
        _Snapshot_Volume record = {};
        CopyRootInto(places.roots[index], record);
        record.snapshotId = snapshotOfRoot[index];
        places.rootOf.push_back(index);
        volumes.push_back(record);
    }
}

void WriteSnapshotPaths(BackupComponents& components, const std::vector<_Snapshot_Volume>& volumes,
                        const PathPlaces& places, wchar_t* const* snapshotPaths,
                        int propertiesSite) {
    for (size_t j = 0; j < volumes.size(); ++j) {
        const std::wstring& fullPath = places.fullPaths[j];
        const std::wstring path =
            SnapshotPathOf(components, volumes[j].snapshotId, fullPath,
                           places.roots[places.rootOf[j]].c_str(), propertiesSite);
        CopySnapshotPath(path, fullPath, places.rooms[j], snapshotPaths[j]);
    }
}

}  // namespace quorlin
