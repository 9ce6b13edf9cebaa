// The platform requester on POSIX: the btrfs snapshot service.
#include "platform/posix/btrfs/BtrfsBackupComponents.h"

namespace quorlin {

HRESULT CreatePlatformBackupComponents(ComPtr<BackupComponents>& components) {
    return CreateBtrfsBackupComponents(SystemVolumeCalls(), components);
}

}  // namespace quorlin
