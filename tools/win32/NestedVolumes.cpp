#include "NestedVolumes.h"

namespace qtool {

// Volumes mounted in folders of NTFS are not looked for here: a snapshot of PATH's
// volume holds the mount point itself, as VSS shows it.
std::vector<NestedItem> FindNestedItems(const std::string&) { return {}; }

std::string NestedSnapshotProblem(const std::string&, const std::string&, const std::string&,
                                  bool) {
    return "";
}

bool NestedVolumeMoved(const NestedVolume&) { return false; }

}  // namespace qtool
