// The components object of the btrfs snapshot service.
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_BACKUP_COMPONENTS_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_BACKUP_COMPONENTS_H

#include "platform/posix/btrfs/VolumeCalls.h"
#include "snapshot/Requester.h"

namespace quorlin {

// Puts into `components` a new components object that changes volumes through `calls`
// (which must outlive it). Returns S_OK, or E_OUTOFMEMORY with `components` empty.
HRESULT CreateBtrfsBackupComponents(VolumeCalls& calls, ComPtr<BackupComponents>& components);

}  // namespace quorlin

#endif
