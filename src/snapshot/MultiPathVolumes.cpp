#include "snapshot/MultiPathVolumes.h"

#include "snapshot/WorkflowSteps.h"

#include <cwchar>
#include <unordered_map>

namespace quorlin {

void AddVolumesOf(BackupComponents& components, wchar_t* const* sourcePaths, size_t count,
                  int addSite, std::vector<_Snapshot_Volume>& volumes,
                  std::vector<std::wstring>& fullPaths) {
    std::unordered_map<std::wstring, size_t> firstEntry;
    volumes.reserve(volumes.size() + count);
    fullPaths.reserve(fullPaths.size() + count);
    for (size_t i = 0; i < count; ++i) {
        _Snapshot_Volume record = {};
        fullPaths.emplace_back();
        LookUpVolume(sourcePaths[i], fullPaths.back(), record.volumePath);
        const auto found = firstEntry.try_emplace(record.volumePath, volumes.size());
        if (found.second)
            AddToSnapshotSet(components, record.volumePath, record.snapshotId, addSite);
        else
            record.snapshotId = volumes[found.first->second].snapshotId;
        volumes.push_back(record);
    }
}

void WriteSnapshotPaths(BackupComponents& components, const std::vector<_Snapshot_Volume>& volumes,
                        const std::vector<std::wstring>& fullPaths, wchar_t* const* snapshotPaths,
                        int propertiesSite) {
    for (size_t j = 0; j < volumes.size(); ++j) {
        const std::wstring path = SnapshotPathOf(components, volumes[j].snapshotId, fullPaths[j],
                                                 volumes[j].volumePath, propertiesSite);
        std::wmemcpy(snapshotPaths[j], path.c_str(), path.size() + 1);
    }
}

}  // namespace quorlin
