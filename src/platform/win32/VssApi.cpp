#include "platform/win32/VssApi.h"

namespace quorlin {

namespace {

using CreateFunction = HRESULT(WINAPI*)(IVssBackupComponents**);
using FreeFunction = void(WINAPI*)(VSS_SNAPSHOT_PROP*);

// The entry points under the names that vssapi.dll has exported since Vista. The
// older, decorated export of Windows XP and Server 2003 is not used: it hands out
// an interface of another layout.
struct VssApi {
    CreateFunction create = nullptr;
    FreeFunction freeProperties = nullptr;
    DWORD error = ERROR_SUCCESS;
};

template <class Function>
Function Find(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

VssApi Load() {
    VssApi api;
    HMODULE module = ::LoadLibraryW(L"vssapi.dll");
    if (module == nullptr) {
        api.error = ::GetLastError();
        return api;
    }
    api.create = Find<CreateFunction>(module, "CreateVssBackupComponentsInternal");
    api.freeProperties = Find<FreeFunction>(module, "VssFreeSnapshotPropertiesInternal");
    if (api.create == nullptr || api.freeProperties == nullptr) {
        api.error = ERROR_PROC_NOT_FOUND;
        api.create = nullptr;
        api.freeProperties = nullptr;
    }
    return api;  // the module stays loaded for the life of the process
}

const VssApi& Api() {
    static const VssApi api = Load();
    return api;
}

}  // namespace

HRESULT CallCreateVssBackupComponents(IVssBackupComponents** components) {
    *components = nullptr;
    const VssApi& api = Api();
    if (api.create == nullptr)
        return HRESULT_FROM_WIN32(api.error);
    return api.create(components);
}

void CallVssFreeSnapshotProperties(VSS_SNAPSHOT_PROP* properties) {
    const VssApi& api = Api();
    if (api.freeProperties != nullptr)
        api.freeProperties(properties);
}

}  // namespace quorlin
