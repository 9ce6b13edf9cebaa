// Stand-ins for the VSS objects, so that the adapter over them can be checked
// without a VSS service: they count references, record the calls that the
// adapter forwards with their arguments, and answer `result`.
#ifndef QUORLIN_TESTS_WIN32_FAKE_VSS_H
#define QUORLIN_TESTS_WIN32_FAKE_VSS_H

#include <vsbackup.h>

#include <string>
#include <vector>

namespace quorlin {
namespace testing {

class FakeVssAsync : public IVssAsync {
public:
    ULONG references = 1;
    std::vector<std::string> calls;
    HRESULT result = S_OK;
    HRESULT status = VSS_S_ASYNC_FINISHED;
    // QueryStatus reports VSS_S_ASYNC_PENDING this many times first (-1: always).
    int pendingPolls = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE Cancel() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Wait(DWORD milliseconds) override;
    HRESULT STDMETHODCALLTYPE QueryStatus(HRESULT* status, INT* reserved) override;
};

// Only the operations the adapter forwards do anything; the rest answer E_NOTIMPL.
class FakeVssComponents : public IVssBackupComponents {
public:
    ULONG references = 1;
    std::vector<std::string> calls;
    HRESULT result = S_OK;
    // What the operation calls hand out (with a reference of its own), or nothing.
    FakeVssAsync* operation = nullptr;
    // The device object name that GetSnapshotProperties reports.
    std::wstring device = L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy7";

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }

    HRESULT STDMETHODCALLTYPE InitializeForBackup(BSTR xml) override;
    HRESULT STDMETHODCALLTYPE SetBackupState(boolean selectComponents, boolean bootable,
                                             VSS_BACKUP_TYPE type, boolean partial) override;
    HRESULT STDMETHODCALLTYPE GatherWriterMetadata(IVssAsync** async) override;
    HRESULT STDMETHODCALLTYPE PrepareForBackup(IVssAsync** async) override;
    HRESULT STDMETHODCALLTYPE AbortBackup() override;
    HRESULT STDMETHODCALLTYPE BackupComplete(IVssAsync** async) override;
    HRESULT STDMETHODCALLTYPE SetContext(LONG context) override;
    HRESULT STDMETHODCALLTYPE StartSnapshotSet(VSS_ID* setId) override;
    HRESULT STDMETHODCALLTYPE AddToSnapshotSet(VSS_PWSZ volume, VSS_ID provider,
                                               VSS_ID* snapshotId) override;
    HRESULT STDMETHODCALLTYPE DoSnapshotSet(IVssAsync** async) override;
    HRESULT STDMETHODCALLTYPE DeleteSnapshots(VSS_ID source, VSS_OBJECT_TYPE type, WINBOOL force,
                                              LONG* deleted, VSS_ID* nondeleted) override;
    HRESULT STDMETHODCALLTYPE GetSnapshotProperties(VSS_ID snapshotId,
                                                    VSS_SNAPSHOT_PROP* prop) override;

    // Not used by the adapter.
    HRESULT STDMETHODCALLTYPE GetWriterComponentsCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetWriterComponents(UINT, IVssWriterComponentsExt**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE InitializeForRestore(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetRestoreState(VSS_RESTORE_TYPE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetWriterMetadataCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetWriterMetadata(UINT, VSS_ID*,
                                                IVssExamineWriterMetadata**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FreeWriterMetadata() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddComponent(VSS_ID, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR,
                                           LPCWSTR) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GatherWriterStatus(IVssAsync**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetWriterStatusCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FreeWriterStatus() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetWriterStatus(UINT, VSS_ID*, VSS_ID*, BSTR*, VSS_WRITER_STATE*,
                                              HRESULT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetBackupSucceeded(VSS_ID, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR,
                                                 LPCWSTR, boolean) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetBackupOptions(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                               LPCWSTR) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetSelectedForRestore(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                    boolean) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetRestoreOptions(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                LPCWSTR) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetAdditionalRestores(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                    boolean) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetPreviousBackupStamp(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                     LPCWSTR) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SaveAsXML(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddAlternativeLocationMapping(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR,
                                                            LPCWSTR, LPCWSTR, LPCWSTR, boolean,
                                                            LPCWSTR) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AddRestoreSubcomponent(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                     LPCWSTR, LPCWSTR, boolean) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetFileRestoreStatus(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                   VSS_FILE_RESTORE_STATUS) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AddNewTarget(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR,
                                           LPCWSTR, boolean, LPCWSTR) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetRangesFilePath(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, UINT,
                                                LPCWSTR) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE PreRestore(IVssAsync**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PostRestore(IVssAsync**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ImportSnapshots(IVssAsync**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BreakSnapshotSet(VSS_ID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Query(VSS_ID, VSS_OBJECT_TYPE, VSS_OBJECT_TYPE,
                                    IVssEnumObject**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE IsVolumeSupported(VSS_ID, VSS_PWSZ, WINBOOL*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DisableWriterClasses(const VSS_ID*, UINT) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EnableWriterClasses(const VSS_ID*, UINT) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DisableWriterInstances(const VSS_ID*, UINT) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ExposeSnapshot(VSS_ID, VSS_PWSZ, LONG, VSS_PWSZ, VSS_PWSZ*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RevertToSnapshot(VSS_ID, WINBOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryRevertStatus(VSS_PWSZ, IVssAsync**) override {
        return E_NOTIMPL;
    }

private:
    HRESULT HandOut(const char* name, IVssAsync** async);
};

// "{Data1-...}" in the registry form, for comparing identities in call records.
std::string GuidText(const GUID& id);

}  // namespace testing
}  // namespace quorlin

#endif
