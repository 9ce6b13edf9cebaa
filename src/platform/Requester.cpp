#include "platform/Requester.h"

#include <utility>

namespace quorlin {

namespace {
BackupComponentsFactory& Factory() {
    static BackupComponentsFactory factory;
    return factory;
}
}  // namespace

HRESULT CreateVssBackupComponents(ComPtr<BackupComponents>& components) {
    components.Reset();
    const BackupComponentsFactory& factory = Factory();
    return factory ? factory(components) : CreatePlatformBackupComponents(components);
}

BackupComponentsFactory SetBackupComponentsFactory(BackupComponentsFactory factory) {
    return std::exchange(Factory(), std::move(factory));
}

}  // namespace quorlin
