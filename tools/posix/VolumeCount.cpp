// Volumes on Linux: each btrfs subvolume (and each mount) has a device number of its own.
#include "SetInstant.h"

#include <set>
#include <sys/stat.h>

namespace qtool {

size_t VolumesPerSet() { return QUORLIN_MAXIMUM_VOLUMES_LINUX; }

size_t DistinctVolumes(const std::vector<std::string>& paths) {
    std::set<dev_t> devices;
    size_t unknown = 0;  // counted one each: the library tells what they are
    for (const std::string& path : paths) {
        struct stat status;
        if (::stat(path.c_str(), &status) == 0)
            devices.insert(status.st_dev);
        else
            ++unknown;
    }
    return devices.size() + unknown;
}

}  // namespace qtool
