#include "platform/win32/VssComponents.h"

#include "platform/win32/VssAdapter.h"
#include "platform/win32/VssOperation.h"

#include <memory>
#include <new>

namespace quorlin {

namespace {

// Frees the strings of a properties record that VSS filled in, on every path.
class SnapshotPropRecord {
public:
    explicit SnapshotPropRecord(SnapshotPropFree freeProp) : free_(freeProp) {
        ZeroMemory(&prop_, sizeof prop_);
    }
    ~SnapshotPropRecord() {
        if (filled_)
            free_(&prop_);
    }
    SnapshotPropRecord(const SnapshotPropRecord&) = delete;
    SnapshotPropRecord& operator=(const SnapshotPropRecord&) = delete;

    VSS_SNAPSHOT_PROP* Get() { return &prop_; }
    void MarkFilled() { filled_ = true; }

private:
    const SnapshotPropFree free_;
    VSS_SNAPSHOT_PROP prop_;
    bool filled_ = false;
};

std::wstring TextOf(const wchar_t* text) { return text ? std::wstring(text) : std::wstring(); }

SnapshotProperties PropertiesOf(const VSS_SNAPSHOT_PROP& prop) {
    SnapshotProperties properties;
    properties.snapshotId = prop.m_SnapshotId;
    properties.snapshotSetId = prop.m_SnapshotSetId;
    properties.snapshotDeviceObject = TextOf(prop.m_pwszSnapshotDeviceObject);
    properties.originalVolumeName = TextOf(prop.m_pwszOriginalVolumeName);
    properties.attributes = prop.m_lSnapshotAttributes;
    properties.creationTimestamp = prop.m_tsCreationTimestamp;
    return properties;
}

// Releases an enumeration that VSS made, on every path.
struct EnumRelease {
    void operator()(IVssEnumObject* list) const { list->Release(); }
};

class VssComponents final : public VssAdapter<BackupComponents, IVssBackupComponents> {
public:
    VssComponents(IVssBackupComponents* native, SnapshotPropFree freeProp)
        : VssAdapter(native), freeProp_(freeProp) {}

    HRESULT InitializeForBackup(const wchar_t* xml) override {
        if (xml == nullptr)
            return native_->InitializeForBackup(nullptr);
        // The document travels as a BSTR, which carries its length in front.
        BSTR document = ::SysAllocString(xml);
        if (document == nullptr)
            throw std::bad_alloc();
        const HRESULT hr = native_->InitializeForBackup(document);
        ::SysFreeString(document);
        return hr;
    }

    HRESULT SetContext(LONG context) override { return native_->SetContext(context); }

    HRESULT GatherWriterMetadata(ComPtr<AsyncOperation>& async) override {
        IVssAsync* native = nullptr;
        const HRESULT hr = native_->GatherWriterMetadata(&native);
        return AdoptVssOperation(hr, native, async);
    }

    HRESULT SetBackupState(bool selectComponents, bool bootableSystemState,
                           VSS_BACKUP_TYPE backupType, bool partialFileSupport) override {
        return native_->SetBackupState(selectComponents, bootableSystemState, backupType,
                                       partialFileSupport);
    }

    HRESULT StartSnapshotSet(VSS_ID* snapshotSetId) override {
        return native_->StartSnapshotSet(snapshotSetId);
    }

    HRESULT AddToSnapshotSet(const wchar_t* volumeName, const VSS_ID& providerId,
                             VSS_ID* snapshotId) override {
        // VSS only reads the name; its signature lacks the const.
        const HRESULT hr =
            native_->AddToSnapshotSet(const_cast<wchar_t*>(volumeName), providerId, snapshotId);
        if (hr == S_OK)
            ++volumes_;
        return hr;
    }

    // VSS flushes, holds and snapshots every volume of its set together: one instant.
    HRESULT QuerySetInstant(SetInstant& instant) override {
        instant = SetInstant();
        instant.fileSystems = instant.oneTransaction = volumes_;
        instant.wholeSet = true;
        instant.tries = 1;
        return S_OK;
    }

    HRESULT PrepareForBackup(ComPtr<AsyncOperation>& async) override {
        IVssAsync* native = nullptr;
        const HRESULT hr = native_->PrepareForBackup(&native);
        return AdoptVssOperation(hr, native, async);
    }

    HRESULT DoSnapshotSet(ComPtr<AsyncOperation>& async) override {
        IVssAsync* native = nullptr;
        const HRESULT hr = native_->DoSnapshotSet(&native);
        return AdoptVssOperation(hr, native, async);
    }

    HRESULT GetSnapshotProperties(const VSS_ID& snapshotId,
                                  SnapshotProperties* properties) override {
        SnapshotPropRecord record(freeProp_);
        const HRESULT hr = native_->GetSnapshotProperties(snapshotId, record.Get());
        if (FAILED(hr))
            return hr;
        record.MarkFilled();
        if (properties != nullptr)
            *properties = PropertiesOf(*record.Get());
        return hr;
    }

    HRESULT BackupComplete(ComPtr<AsyncOperation>& async) override {
        IVssAsync* native = nullptr;
        const HRESULT hr = native_->BackupComplete(&native);
        return AdoptVssOperation(hr, native, async);
    }

    HRESULT AbortBackup() override { return native_->AbortBackup(); }

    HRESULT DeleteSnapshots(const VSS_ID& sourceObjectId, VSS_OBJECT_TYPE sourceObjectType,
                            bool forceDelete, LONG* deletedSnapshots,
                            VSS_ID* nondeletedSnapshotId) override {
        return native_->DeleteSnapshots(sourceObjectId, sourceObjectType,
                                        forceDelete ? TRUE : FALSE, deletedSnapshots,
                                        nondeletedSnapshotId);
    }

    HRESULT QuerySnapshots(std::vector<SnapshotProperties>& snapshots) override {
        IVssEnumObject* native = nullptr;
        HRESULT hr = native_->Query(GUID_NULL, VSS_OBJECT_NONE, VSS_OBJECT_SNAPSHOT, &native);
        if (FAILED(hr))
            return hr;
        if (native == nullptr)
            return S_OK;  // nothing to list
        const std::unique_ptr<IVssEnumObject, EnumRelease> list(native);
        for (;;) {
            VSS_OBJECT_PROP object;
            ZeroMemory(&object, sizeof object);
            ULONG fetched = 0;
            hr = list->Next(1, &object, &fetched);
            if (FAILED(hr))
                return hr;
            if (fetched == 0)
                return S_OK;
            if (object.Type != VSS_OBJECT_SNAPSHOT)
                continue;
            SnapshotPropRecord record(freeProp_);
            *record.Get() = object.Obj.Snap;
            record.MarkFilled();
            snapshots.push_back(PropertiesOf(*record.Get()));
        }
    }

private:
    const SnapshotPropFree freeProp_;
    int volumes_ = 0;  // added to the set
};

}  // namespace

void AdoptVssBackupComponents(IVssBackupComponents* native, ComPtr<BackupComponents>& components,
                              SnapshotPropFree freeProp) {
    components.Reset();
    try {
        components = ComPtr<BackupComponents>::Adopt(new VssComponents(native, freeProp));
    } catch (...) {
        native->Release();
        throw;
    }
}

}  // namespace quorlin
