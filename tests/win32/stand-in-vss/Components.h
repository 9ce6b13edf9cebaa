// IVssBackupComponents of the stand-in VSS, in the order of the platform headers
// (the class derives from their interface, so the compiler keeps the order).
// It keeps VSS's rules for what a requester does:
//
// - InitializeForBackup comes first, once; any other call before it answers
//   VSS_E_BAD_STATE.
// - SetContext before StartSnapshotSet, with a known context (else E_INVALIDARG).
// - GatherWriterMetadata and SetBackupState before PrepareForBackup.
// - StartSnapshotSet once per object (VSS_E_SNAPSHOT_SET_IN_PROGRESS while the set
//   is open, VSS_E_BAD_STATE after DoSnapshotSet), not in VSS_CTX_ALL
//   (VSS_E_UNSUPPORTED_CONTEXT). One set is in creation at a time on the machine, from
//   StartSnapshotSet to the end of DoSnapshotSet or AbortBackup: while another object
//   of any process has one, StartSnapshotSet answers VSS_E_SNAPSHOT_SET_IN_PROGRESS.
// - AddToSnapshotSet into the open set: a volume root that exists (else
//   VSS_E_OBJECT_NOT_FOUND), each volume once (VSS_E_OBJECT_ALREADY_EXISTS), the
//   provider GUID_NULL or the stand-in's (VSS_E_PROVIDER_NOT_REGISTERED), at most
//   64 volumes (VSS_E_MAXIMUM_NUMBER_OF_VOLUMES_REACHED).
// - PrepareForBackup after SetBackupState and, in a context with writers (without
//   VSS_VOLSNAP_ATTR_NO_WRITERS), after the writers' metadata was gathered; once.
// - DoSnapshotSet on the open set with at least one volume, in a context with
//   writers after PrepareForBackup. It copies the frozen folders (Settings.h) of
//   each volume into the store (Store.h) before its operation is handed out, which
//   still answers pending for a moment, as VSS's do.
// - A snapshot's original volume is named as VSS names it, \\?\Volume{GUID}\.
// - BackupComplete once, after the snapshots were made.
// - AbortBackup drops an open set; afterwards only GetSnapshotProperties, Query,
//   DeleteSnapshots and AbortBackup are accepted.
// - GetSnapshotProperties, Query (snapshots only) and DeleteSnapshots see the
//   snapshots of the object's context (every snapshot in VSS_CTX_ALL), made by any
//   object in any process.
// - Snapshots of a context that is released automatically (without
//   VSS_VOLSNAP_ATTR_NO_AUTO_RELEASE) go with the last reference to their
//   components object, or once their process has ended; the others stay until
//   DeleteSnapshots.
// Every other method answers E_NOTIMPL. Every call is logged (CallLog.h) and can
// be scripted (Script.h).
#ifndef QUORLIN_STAND_IN_VSS_COMPONENTS_H
#define QUORLIN_STAND_IN_VSS_COMPONENTS_H

#include "SetMembers.h"
#include "Settings.h"
#include "Store.h"

#include <vsbackup.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace standin {

class Components final : public IVssBackupComponents {
public:
    explicit Components(Settings settings);
    Components(const Components&) = delete;
    Components& operator=(const Components&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetWriterComponentsCount(UINT*) override;
    HRESULT STDMETHODCALLTYPE GetWriterComponents(UINT, IVssWriterComponentsExt**) override;
    HRESULT STDMETHODCALLTYPE InitializeForBackup(BSTR xml) override;
    HRESULT STDMETHODCALLTYPE SetBackupState(boolean selectComponents, boolean bootable,
                                             VSS_BACKUP_TYPE type, boolean partial) override;
    HRESULT STDMETHODCALLTYPE InitializeForRestore(BSTR) override;
    HRESULT STDMETHODCALLTYPE SetRestoreState(VSS_RESTORE_TYPE) override;
    HRESULT STDMETHODCALLTYPE GatherWriterMetadata(IVssAsync** async) override;
    HRESULT STDMETHODCALLTYPE GetWriterMetadataCount(UINT*) override;
    HRESULT STDMETHODCALLTYPE GetWriterMetadata(UINT, VSS_ID*,
                                                IVssExamineWriterMetadata**) override;
    HRESULT STDMETHODCALLTYPE FreeWriterMetadata() override;
    HRESULT STDMETHODCALLTYPE AddComponent(VSS_ID, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR,
                                           LPCWSTR) override;
    HRESULT STDMETHODCALLTYPE PrepareForBackup(IVssAsync** async) override;
    HRESULT STDMETHODCALLTYPE AbortBackup() override;
    HRESULT STDMETHODCALLTYPE GatherWriterStatus(IVssAsync**) override;
    HRESULT STDMETHODCALLTYPE GetWriterStatusCount(UINT*) override;
    HRESULT STDMETHODCALLTYPE FreeWriterStatus() override;
    HRESULT STDMETHODCALLTYPE GetWriterStatus(UINT, VSS_ID*, VSS_ID*, BSTR*, VSS_WRITER_STATE*,
                                              HRESULT*) override;
    HRESULT STDMETHODCALLTYPE SetBackupSucceeded(VSS_ID, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR,
                                                 LPCWSTR, boolean) override;
    HRESULT STDMETHODCALLTYPE SetBackupOptions(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                               LPCWSTR) override;
    HRESULT STDMETHODCALLTYPE SetSelectedForRestore(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                    boolean) override;
    HRESULT STDMETHODCALLTYPE SetRestoreOptions(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                LPCWSTR) override;
    HRESULT STDMETHODCALLTYPE SetAdditionalRestores(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                    boolean) override;
    HRESULT STDMETHODCALLTYPE SetPreviousBackupStamp(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                     LPCWSTR) override;
    HRESULT STDMETHODCALLTYPE SaveAsXML(BSTR*) override;
    HRESULT STDMETHODCALLTYPE BackupComplete(IVssAsync** async) override;
    HRESULT STDMETHODCALLTYPE AddAlternativeLocationMapping(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR,
                                                            LPCWSTR, LPCWSTR, LPCWSTR, boolean,
                                                            LPCWSTR) override;
    HRESULT STDMETHODCALLTYPE AddRestoreSubcomponent(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                     LPCWSTR, LPCWSTR, boolean) override;
    HRESULT STDMETHODCALLTYPE SetFileRestoreStatus(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                   VSS_FILE_RESTORE_STATUS) override;
    HRESULT STDMETHODCALLTYPE AddNewTarget(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR,
                                           LPCWSTR, boolean, LPCWSTR) override;
    HRESULT STDMETHODCALLTYPE SetRangesFilePath(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, UINT,
                                                LPCWSTR) override;
    HRESULT STDMETHODCALLTYPE PreRestore(IVssAsync**) override;
    HRESULT STDMETHODCALLTYPE PostRestore(IVssAsync**) override;
    HRESULT STDMETHODCALLTYPE SetContext(LONG context) override;
    HRESULT STDMETHODCALLTYPE StartSnapshotSet(VSS_ID* setId) override;
    HRESULT STDMETHODCALLTYPE AddToSnapshotSet(VSS_PWSZ volume, VSS_ID provider,
                                               VSS_ID* snapshotId) override;
    HRESULT STDMETHODCALLTYPE DoSnapshotSet(IVssAsync** async) override;
    HRESULT STDMETHODCALLTYPE DeleteSnapshots(VSS_ID source, VSS_OBJECT_TYPE type, WINBOOL force,
                                              LONG* deleted, VSS_ID* nondeleted) override;
    HRESULT STDMETHODCALLTYPE ImportSnapshots(IVssAsync**) override;
    HRESULT STDMETHODCALLTYPE BreakSnapshotSet(VSS_ID) override;
    HRESULT STDMETHODCALLTYPE GetSnapshotProperties(VSS_ID snapshotId,
                                                    VSS_SNAPSHOT_PROP* prop) override;
    HRESULT STDMETHODCALLTYPE Query(VSS_ID queried, VSS_OBJECT_TYPE queriedType,
                                    VSS_OBJECT_TYPE returnedType, IVssEnumObject** list) override;
    HRESULT STDMETHODCALLTYPE IsVolumeSupported(VSS_ID, VSS_PWSZ, WINBOOL*) override;
    HRESULT STDMETHODCALLTYPE DisableWriterClasses(const VSS_ID*, UINT) override;
    HRESULT STDMETHODCALLTYPE EnableWriterClasses(const VSS_ID*, UINT) override;
    HRESULT STDMETHODCALLTYPE DisableWriterInstances(const VSS_ID*, UINT) override;
    HRESULT STDMETHODCALLTYPE ExposeSnapshot(VSS_ID, VSS_PWSZ, LONG, VSS_PWSZ, VSS_PWSZ*) override;
    HRESULT STDMETHODCALLTYPE RevertToSnapshot(VSS_ID, WINBOOL) override;
    HRESULT STDMETHODCALLTYPE QueryRevertStatus(VSS_PWSZ, IVssAsync**) override;

private:
    enum class SetState { None, Open, Closed, Made };
    ~Components();

    // Logs the call "<name> <arguments>" with its answer: the script's, or what
    // `body(details)` returns (under the object's lock). Pauses after it when the
    // script says so.
    template <class Body>
    HRESULT Run(const wchar_t* name, const std::wstring& arguments, Body body);
    // An operation's call: `check()` answers the call; when it succeeds, `work()`
    // does the operation's work unless the script decides its status.
    template <class Check, class Work>
    HRESULT Operate(const wchar_t* name, IVssAsync** async, Check check, Work work);
    HRESULT NotImplemented(const wchar_t* name);

    bool WithWriters() const { return (context_ & VSS_VOLSNAP_ATTR_NO_WRITERS) == 0; }
    bool Visible(const SnapshotRecord& record) const;
    HRESULT MakeSnapshots();
    // The machine's one set in creation: taken by StartSnapshotSet, else false.
    bool BeginCreation();
    void EndCreation();
    void ReleaseSnapshots() noexcept;

    const Settings settings_;
    const Store store_;
    std::atomic<ULONG> references_{1};
    std::mutex mutex_;
    bool initialized_ = false;
    bool aborted_ = false;
    bool backupStateSet_ = false;
    bool gathered_ = false;
    bool prepared_ = false;
    bool completed_ = false;
    LONG context_ = VSS_CTX_BACKUP;
    SetState set_ = SetState::None;
    VSS_ID setId_ = GUID_NULL;
    std::vector<SetMember> members_;
    std::vector<SnapshotRecord> made_;
    HANDLE creating_ = INVALID_HANDLE_VALUE;  // the lock of the set in creation
};

}  // namespace standin

#endif
