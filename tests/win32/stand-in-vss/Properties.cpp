#include "Properties.h"

#include <objbase.h>

namespace standin {

// {5a1e51a4-7d2c-4b1e-9d6e-71a2c0e5b1f7}
const VSS_ID kProviderId = {
    0x5a1e51a4, 0x7d2c, 0x4b1e, {0x9d, 0x6e, 0x71, 0xa2, 0xc0, 0xe5, 0xb1, 0xf7}};

namespace {

wchar_t* Copy(const std::wstring& text) {
    auto* copy = static_cast<wchar_t*>(::CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    if (copy != nullptr) {
        text.copy(copy, text.size());
        copy[text.size()] = L'\0';
    }
    return copy;
}

std::wstring MachineName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    return ::GetComputerNameW(name, &length) ? std::wstring(name, length) : std::wstring();
}

// The volume of the root `root` ("C:\\") as VSS names it, \\?\Volume{GUID}\.
std::wstring VolumeName(const std::wstring& root) {
    wchar_t name[MAX_PATH + 1] = {};
    return ::GetVolumeNameForVolumeMountPointW(root.c_str(), name, MAX_PATH) ? name : root;
}

}  // namespace

HRESULT FillProperties(const Store& store, const SnapshotRecord& record, VSS_SNAPSHOT_PROP& prop) {
    ZeroMemory(&prop, sizeof prop);
    prop.m_SnapshotId = record.id;
    prop.m_SnapshotSetId = record.setId;
    prop.m_lSnapshotsCount = record.setCount;
    prop.m_ProviderId = kProviderId;
    prop.m_lSnapshotAttributes = record.context;
    prop.m_tsCreationTimestamp = static_cast<VSS_TIMESTAMP>(record.created);
    prop.m_eStatus = VSS_SS_CREATED;
    const std::wstring machine = MachineName();
    prop.m_pwszSnapshotDeviceObject = Copy(store.DeviceOf(record));
    prop.m_pwszOriginalVolumeName = Copy(VolumeName(record.volume));
    prop.m_pwszOriginatingMachine = Copy(machine);
    prop.m_pwszServiceMachine = Copy(machine);
    if (!prop.m_pwszSnapshotDeviceObject || !prop.m_pwszOriginalVolumeName ||
        !prop.m_pwszOriginatingMachine || !prop.m_pwszServiceMachine) {
        FreeProperties(prop);
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

void FreeProperties(VSS_SNAPSHOT_PROP& prop) {
    for (VSS_PWSZ* text : {&prop.m_pwszSnapshotDeviceObject, &prop.m_pwszOriginalVolumeName,
                           &prop.m_pwszOriginatingMachine, &prop.m_pwszServiceMachine,
                           &prop.m_pwszExposedName, &prop.m_pwszExposedPath}) {
        ::CoTaskMemFree(*text);
        *text = nullptr;
    }
}

}  // namespace standin
