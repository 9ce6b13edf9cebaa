#include "RawVss.h"

#include <cwchar>

namespace endtoend {

namespace {

struct Entries {
    HRESULT(WINAPI* create)(IVssBackupComponents**) = nullptr;
    void(WINAPI* free)(VSS_SNAPSHOT_PROP*) = nullptr;
};

template <class Function>
void Find(HMODULE module, const char* name, Function& function) {
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

const Entries& Vss() {
    static const Entries entries = [] {
        Entries found;
        wchar_t path[MAX_PATH + 16];
        const UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
        std::wcscpy(path + length, L"\\vssapi.dll");
        if (HMODULE module = ::LoadLibraryW(path)) {
            Find(module, "CreateVssBackupComponentsInternal", found.create);
            Find(module, "VssFreeSnapshotPropertiesInternal", found.free);
        }
        return found;
    }();
    return entries;
}

}  // namespace

ComponentsPtr CreateComponents(HRESULT* answer) {
    IVssBackupComponents* components = nullptr;
    const HRESULT hr = Vss().create ? Vss().create(&components) : E_NOINTERFACE;
    if (answer != nullptr)
        *answer = hr;
    return ComponentsPtr(SUCCEEDED(hr) ? components : nullptr);
}

void FreeProperties(VSS_SNAPSHOT_PROP& prop) { Vss().free(&prop); }

HRESULT Finish(HRESULT answer, IVssAsync* operation) {
    if (FAILED(answer) || operation == nullptr)
        return FAILED(answer) ? answer : E_POINTER;
    HRESULT status = E_FAIL;
    operation->Wait(INFINITE);
    operation->QueryStatus(&status, nullptr);
    operation->Release();
    return status == VSS_S_ASYNC_FINISHED ? S_OK : status;
}

}  // namespace endtoend
