// The platform requester on POSIX: the btrfs snapshot service.
#include "snapshot/Requester.h"

namespace quorlin {

HRESULT CreatePlatformBackupComponents(ComPtr<BackupComponents>& components) {
    components.Reset();
    return E_NOTIMPL;
}

}  // namespace quorlin
