// Volumes on Windows: VSS's own limit, and each volume once by its mount path.
#include "SetInstant.h"
#include "Text.h"

#include <set>
#include <windows.h>

namespace qtool {

size_t VolumesPerSet() { return QUORLIN_MAXIMUM_VOLUMES_WINDOWS; }

size_t DistinctVolumes(const std::vector<std::string>& paths) {
    std::set<std::wstring> volumes;
    size_t unknown = 0;
    for (const std::string& path : paths) {
        wchar_t root[MAX_PATH + 1];
        if (::GetVolumePathNameW(WideFromUtf8(path).c_str(), root, MAX_PATH + 1))
            volumes.insert(root);
        else
            ++unknown;
    }
    return volumes.size() + unknown;
}

}  // namespace qtool
