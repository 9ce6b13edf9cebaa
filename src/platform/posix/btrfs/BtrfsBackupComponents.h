// The components object of the btrfs snapshot service.
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_BACKUP_COMPONENTS_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_BACKUP_COMPONENTS_H

#include "platform/posix/btrfs/VolumeCalls.h"
#include "platform/posix/writers/WriterBounds.h"
#include "platform/Requester.h"

#include <string>

namespace quorlin {

// Where a components object finds its writers and how long it waits for them.
struct WriterSettings {
    std::string folder;  // empty: WritersFolder() when the writers' metadata is gathered
    WriterBounds bounds;
};

// Puts into `components` a new components object that changes volumes through `calls`
// (which must outlive it). Returns S_OK, or E_OUTOFMEMORY with `components` empty.
HRESULT CreateBtrfsBackupComponents(VolumeCalls& calls, ComPtr<BackupComponents>& components,
                                    const WriterSettings& writers = WriterSettings());

}  // namespace quorlin

#endif
