// The platform requester on Windows: the real VSS components object, behind an adapter.
#include "platform/Requester.h"

#include "platform/win32/VssApi.h"
#include "platform/win32/VssComponents.h"

namespace quorlin {

HRESULT CreatePlatformBackupComponents(ComPtr<BackupComponents>& components) {
    components.Reset();
    IVssBackupComponents* native = nullptr;
    const HRESULT hr = CallCreateVssBackupComponents(&native);
    if (native != nullptr)
        AdoptVssBackupComponents(native, components);
    return hr;
}

}  // namespace quorlin
