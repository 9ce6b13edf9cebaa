// The held snapshots on Windows: VSS's own Query and DeleteSnapshots through the requester
// seam. VSS keeps no record of which requester made a snapshot, so the persistent sets of
// the context that the workflows use for them (VSS_CTX_NAS_ROLLBACK) count as quorlin's;
// auto-release sets go by VSS's hand when their requester ends, so none is ever orphaned.
#include "platform/HeldSnapshots.h"

#include "platform/Requester.h"

#include <cwchar>

namespace quorlin {

namespace {

// The VSS_VOLSNAP_ATTR_* bits that make up a context.
const LONG kContextBits = 0x1F;
// 1970-01-01 in VSS_TIMESTAMP units (100 ns since 1601).
const int64_t kUnixEpoch = 116444736000000000LL;

HRESULT QueryAll(ComPtr<BackupComponents>& components, std::vector<SnapshotProperties>& found) {
    HRESULT hr = CreateVssBackupComponents(components);
    if (SUCCEEDED(hr))
        hr = components->InitializeForBackup(nullptr);
    if (SUCCEEDED(hr))
        hr = components->SetContext(static_cast<LONG>(VSS_CTX_ALL));
    if (SUCCEEDED(hr))
        hr = components->QuerySnapshots(found);
    return FAILED(hr) ? hr : S_OK;
}

// The names of the volume of `path`: its mount path and its volume GUID path.
void VolumeNamesOf(const std::wstring& path, std::wstring& root, std::wstring& guidName) {
    wchar_t buffer[MAX_PATH + 1] = {};
    if (::GetVolumePathNameW(path.c_str(), buffer, MAX_PATH))
        root = buffer;
    wchar_t name[MAX_PATH + 1] = {};
    if (!root.empty() && ::GetVolumeNameForVolumeMountPointW(root.c_str(), name, MAX_PATH))
        guidName = name;
}

// The volume as a user knows it: VSS names the original volume \\?\Volume{GUID}\, which
// shows as its first mount point ("C:\") where it has one.
std::wstring ShownVolume(const std::wstring& name) {
    wchar_t paths[MAX_PATH + 2] = {};
    DWORD length = 0;
    if (::GetVolumePathNamesForVolumeNameW(name.c_str(), paths, MAX_PATH + 1, &length) &&
        paths[0] != L'\0')
        return paths;
    return name;
}

// The snapshots of quorlin's persistent context on the volume of `path` (null: all).
HRESULT HeldOfOurs(const std::wstring* path, ComPtr<BackupComponents>& components,
                   std::vector<SnapshotProperties>& held) {
    std::vector<SnapshotProperties> found;
    const HRESULT hr = QueryAll(components, found);
    if (hr != S_OK)
        return hr;
    std::wstring root;
    std::wstring guidName;
    if (path != nullptr)
        VolumeNamesOf(*path, root, guidName);
    for (const SnapshotProperties& properties : found) {
        if ((properties.attributes & kContextBits) != VSS_CTX_NAS_ROLLBACK)
            continue;
        const wchar_t* volume = properties.originalVolumeName.c_str();
        if (path != nullptr && _wcsicmp(volume, root.c_str()) != 0 &&
            (guidName.empty() || _wcsicmp(volume, guidName.c_str()) != 0))
            continue;
        held.push_back(properties);
    }
    return S_OK;
}

}  // namespace

HRESULT ListHeldSnapshots(const std::wstring* path, std::vector<HeldSnapshot>& snapshots) {
    ComPtr<BackupComponents> components;
    std::vector<SnapshotProperties> held;
    const HRESULT hr = HeldOfOurs(path, components, held);
    if (hr != S_OK)
        return hr;
    for (const SnapshotProperties& properties : held) {
        HeldSnapshot snapshot;
        snapshot.setId = properties.snapshotSetId;
        snapshot.snapshotId = properties.snapshotId;
        snapshot.volume = ShownVolume(properties.originalVolumeName);
        snapshot.snapshotPath = properties.snapshotDeviceObject;
        snapshot.persistent = true;
        if (properties.creationTimestamp > kUnixEpoch)
            snapshot.created = (properties.creationTimestamp - kUnixEpoch) / 10000000;
        snapshots.push_back(snapshot);
    }
    return S_OK;
}

HRESULT DeleteHeldSet(const std::wstring* path, const VSS_ID& setId, LONG& deleted) {
    deleted = 0;
    ComPtr<BackupComponents> components;
    std::vector<SnapshotProperties> held;
    const HRESULT hr = HeldOfOurs(path, components, held);
    if (hr != S_OK)
        return hr;
    bool matched = false;
    for (const SnapshotProperties& properties : held)
        matched = matched || properties.snapshotSetId == setId;
    if (!matched)
        return VSS_E_OBJECT_NOT_FOUND;  // not a set of quorlin's: never deleted
    VSS_ID notDeleted = GUID_NULL;
    return components->DeleteSnapshots(setId, VSS_OBJECT_SNAPSHOT_SET, true, &deleted, &notDeleted);
}

HRESULT DeleteOrphans(const std::wstring* path, LONG& deleted) {
    deleted = 0;
    ComPtr<BackupComponents> components;
    std::vector<SnapshotProperties> held;
    return HeldOfOurs(path, components, held);  // asked, so that a missing service is told
}

}  // namespace quorlin
