// The platform requester on Windows: an adapter over IVssBackupComponents.
#include "snapshot/Requester.h"

namespace quorlin {

HRESULT CreatePlatformBackupComponents(ComPtr<BackupComponents>& components) {
    components.Reset();
    return E_NOTIMPL;
}

}  // namespace quorlin
