// The snapshots that outlive a backup call on the volumes: the persistent sets that wait
// for their deletion, and the auto-release ones that an owner process holds, or left
// behind when it died. Each platform finds and deletes them its own way (Linux: the btrfs
// service's stores; Windows: VSS's Query and DeleteSnapshots through the requester seam).
#ifndef QUORLIN_PLATFORM_HELD_SNAPSHOTS_H
#define QUORLIN_PLATFORM_HELD_SNAPSHOTS_H

#include "QuorlinTypes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quorlin {

enum class OwnerState { kUnknown, kLives, kGone };

struct HeldSnapshot {
    VSS_ID setId = GUID_NULL;
    VSS_ID snapshotId = GUID_NULL;
    std::wstring volume;        // where it was taken: a mount point, or a volume name
    std::wstring snapshotPath;  // its device object
    bool persistent = false;    // else it goes with its owner (auto-release)
    long ownerPid = 0;          // 0: not known
    OwnerState owner = OwnerState::kUnknown;
    int64_t created = 0;  // seconds since 1970 (UTC); 0: not known
};

// A refusal to delete a set whose owner still runs: Windows's ERROR_BUSY as an HRESULT.
const HRESULT kOwnerStillRuns = static_cast<HRESULT>(0x800700AA);

// The held snapshots on the volume of `path` (null: on every volume), in no set order.
HRESULT ListHeldSnapshots(const std::wstring* path, std::vector<HeldSnapshot>& snapshots);
// Deletes the held set `setId` (on the volume of `path`, null: wherever it is) and commits
// the deletion. VSS_E_OBJECT_NOT_FOUND when no such set is held; kOwnerStillRuns, with
// nothing deleted, while its owner runs. `deleted` counts the snapshots deleted.
HRESULT DeleteHeldSet(const std::wstring* path, const VSS_ID& setId, LONG& deleted);
// Deletes the auto-release snapshots whose owner is gone (on the volume of `path`, null:
// everywhere) and commits the deletion; `deleted` counts them.
HRESULT DeleteOrphans(const std::wstring* path, LONG& deleted);

}  // namespace quorlin

#endif
