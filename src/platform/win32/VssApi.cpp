#include "platform/win32/VssApi.h"

#include <cwchar>

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

// vssapi.dll from the system directory by its full path: a bare name is looked for
// beside the host's executable first, and a file of that name there would be loaded.
HMODULE LoadSystemVssApi() {
    const wchar_t kName[] = L"\\vssapi.dll";
    const size_t kNameUnits = sizeof kName / sizeof kName[0];  // with the terminator
    wchar_t path[MAX_PATH + kNameUnits];
    const UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0)
        return nullptr;
    if (length >= MAX_PATH) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nullptr;
    }
    std::wmemcpy(path + length, kName, kNameUnits);
    return ::LoadLibraryW(path);
}

VssApi Load() {
    VssApi api;
    HMODULE module = LoadSystemVssApi();
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
