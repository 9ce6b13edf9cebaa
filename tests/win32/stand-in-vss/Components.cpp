#include "Components.h"

#include "CallLog.h"
#include "Operation.h"
#include "Properties.h"
#include "SnapshotList.h"
#include "Text.h"
#include "Unknown.h"

#include <vsserror.h>

#include <cwchar>

namespace standin {

namespace {

const LONG kKnownContexts[] = {VSS_CTX_BACKUP,
                               VSS_CTX_FILE_SHARE_BACKUP,
                               VSS_CTX_NAS_ROLLBACK,
                               VSS_CTX_APP_ROLLBACK,
                               VSS_CTX_CLIENT_ACCESSIBLE,
                               VSS_CTX_CLIENT_ACCESSIBLE_WRITERS,
                               static_cast<LONG>(VSS_CTX_ALL)};

bool Known(LONG context) {
    for (LONG known : kKnownContexts)
        if (context == known)
            return true;
    return false;
}

// A volume as AddToSnapshotSet takes it: a volume root that exists ("C:\").
bool IsVolumeRoot(const wchar_t* name) {
    wchar_t root[MAX_PATH + 1];
    return ::GetFileAttributesW(name) != INVALID_FILE_ATTRIBUTES &&
           ::GetVolumePathNameW(name, root, MAX_PATH + 1) && SameName(root, name);
}

std::wstring Shown(const wchar_t* text) { return text == nullptr ? L"null" : text; }

ULONGLONG Now() {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return (ULONGLONG{now.dwHighDateTime} << 32) | now.dwLowDateTime;
}

}  // namespace

Components::Components(Settings settings)
    : settings_(std::move(settings)), store_(settings_.store) {}

Components::~Components() { EndCreation(); }

// A file of the store that one object at a time holds open: a process that ends lets
// go of it with its handles.
bool Components::BeginCreation() {
    for (size_t at = settings_.store.find(L'\\', 3); at != std::wstring::npos;
         at = settings_.store.find(L'\\', at + 1))
        ::CreateDirectoryW(settings_.store.substr(0, at).c_str(), nullptr);
    ::CreateDirectoryW(settings_.store.c_str(), nullptr);
    creating_ =
        ::CreateFileW((settings_.store + L"\\set-in-creation").c_str(), GENERIC_WRITE, 0, nullptr,
                      CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    return creating_ != INVALID_HANDLE_VALUE;
}

void Components::EndCreation() {
    if (creating_ != INVALID_HANDLE_VALUE)
        ::CloseHandle(creating_);
    creating_ = INVALID_HANDLE_VALUE;
}

template <class Body>
HRESULT Components::Run(const wchar_t* name, const std::wstring& arguments, Body body) {
    const std::wstring call = arguments.empty() ? name : std::wstring(name) + L" " + arguments;
    HRESULT answer = S_OK;
    std::wstring details;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (settings_.script.Answer(name, answer))
            return LogAnswer(call, answer, L"(scripted)");
        try {
            answer = body(details);
        } catch (...) {
            answer = E_OUTOFMEMORY;
        }
    }
    LogAnswer(call, answer, details);
    if (SUCCEEDED(answer))
        settings_.script.PauseAfter(name);
    return answer;
}

template <class Check, class Work>
HRESULT Components::Operate(const wchar_t* name, IVssAsync** async, Check check, Work work) {
    if (async != nullptr)
        *async = nullptr;
    return Run(name, L"", [&](std::wstring& details) -> HRESULT {
        if (async == nullptr)
            return E_INVALIDARG;
        const HRESULT checked = check();
        if (FAILED(checked))
            return checked;
        HRESULT status = VSS_S_ASYNC_PENDING;
        if (!settings_.script.Pending(name) &&
            !settings_.script.Answer(std::wstring(name) + L".Status", status)) {
            const HRESULT done = work();
            status = SUCCEEDED(done) ? VSS_S_ASYNC_FINISHED : done;
        }
        *async = new Operation(name, status, settings_.script);
        details = L"status " + HexText(status);
        return S_OK;
    });
}

HRESULT Components::NotImplemented(const wchar_t* name) { return LogAnswer(name, E_NOTIMPL); }

bool Components::Visible(const SnapshotRecord& record) const {
    return context_ == static_cast<LONG>(VSS_CTX_ALL) || record.context == context_;
}

HRESULT Components::QueryInterface(REFIID iid, void** object) {
    return QueryAs<IVssBackupComponents>(this, iid, object);
}

ULONG Components::AddRef() { return ++references_; }

ULONG Components::Release() {
    const ULONG left = --references_;
    if (left == 0) {
        LogLine(L"Release -> 0");
        ReleaseSnapshots();
        delete this;
    }
    return left;
}

void Components::ReleaseSnapshots() noexcept {
    try {
        for (const SnapshotRecord& record : store_.List()) {
            for (const SnapshotRecord& mine : made_) {
                if (record.id != mine.id || mine.Persistent())
                    continue;
                store_.Remove(record);
                LogLine(L"* released " + GuidText(record.id) + L" of set " +
                        GuidText(record.setId) + L" with its components object");
            }
        }
    } catch (...) {
        // what cannot be listed now goes when its process has ended
    }
}

HRESULT Components::InitializeForBackup(BSTR xml) {
    const std::wstring document =
        xml == nullptr ? L"null" : std::to_wstring(::SysStringLen(xml)) + L" units";
    return Run(L"InitializeForBackup", document, [&](std::wstring&) -> HRESULT {
        if (initialized_)
            return VSS_E_BAD_STATE;
        initialized_ = true;
        return S_OK;
    });
}

HRESULT Components::SetContext(LONG context) {
    return Run(L"SetContext", std::to_wstring(context), [&](std::wstring&) -> HRESULT {
        if (!initialized_ || aborted_ || set_ != SetState::None)
            return VSS_E_BAD_STATE;
        if (!Known(context))
            return E_INVALIDARG;
        context_ = context;
        return S_OK;
    });
}

HRESULT Components::GatherWriterMetadata(IVssAsync** async) {
    return Operate(
        L"GatherWriterMetadata", async,
        [&] { return !initialized_ || aborted_ || prepared_ ? VSS_E_BAD_STATE : S_OK; },
        [&] {
            gathered_ = true;
            return S_OK;
        });
}

HRESULT Components::SetBackupState(boolean selectComponents, boolean bootable, VSS_BACKUP_TYPE type,
                                   boolean partial) {
    const std::wstring arguments = std::to_wstring(selectComponents) + L" " +
                                   std::to_wstring(bootable) + L" " + std::to_wstring(type) + L" " +
                                   std::to_wstring(partial);
    return Run(L"SetBackupState", arguments, [&](std::wstring&) -> HRESULT {
        if (!initialized_ || aborted_ || prepared_)
            return VSS_E_BAD_STATE;
        if (type < VSS_BT_FULL || type > VSS_BT_OTHER)
            return E_INVALIDARG;
        backupStateSet_ = true;
        return S_OK;
    });
}

HRESULT Components::StartSnapshotSet(VSS_ID* setId) {
    return Run(L"StartSnapshotSet", L"", [&](std::wstring& details) -> HRESULT {
        if (setId == nullptr)
            return E_INVALIDARG;
        if (!initialized_ || aborted_)
            return VSS_E_BAD_STATE;
        if (set_ == SetState::Open)
            return VSS_E_SNAPSHOT_SET_IN_PROGRESS;
        if (set_ != SetState::None)
            return VSS_E_BAD_STATE;
        if (context_ == static_cast<LONG>(VSS_CTX_ALL))
            return VSS_E_UNSUPPORTED_CONTEXT;
        if (!BeginCreation())
            return VSS_E_SNAPSHOT_SET_IN_PROGRESS;
        const HRESULT made = ::CoCreateGuid(&setId_);
        if (FAILED(made)) {
            EndCreation();
            return made;
        }
        set_ = SetState::Open;
        *setId = setId_;
        details = GuidText(setId_);
        return S_OK;
    });
}

HRESULT Components::AddToSnapshotSet(VSS_PWSZ volume, VSS_ID provider, VSS_ID* snapshotId) {
    const std::wstring arguments = Shown(volume) + L" " + GuidText(provider);
    return Run(L"AddToSnapshotSet", arguments, [&](std::wstring& details) -> HRESULT {
        if (volume == nullptr || snapshotId == nullptr)
            return E_INVALIDARG;
        if (!initialized_ || aborted_ || set_ != SetState::Open)
            return VSS_E_BAD_STATE;
        if (provider != GUID_NULL && provider != kProviderId)
            return VSS_E_PROVIDER_NOT_REGISTERED;
        if (!IsVolumeRoot(volume))
            return VSS_E_OBJECT_NOT_FOUND;
        const HRESULT admitted = Admit(members_, volume);
        if (FAILED(admitted))
            return admitted;
        SetMember member = {volume, GUID_NULL};
        const HRESULT made = ::CoCreateGuid(&member.snapshotId);
        if (FAILED(made))
            return made;
        members_.push_back(member);
        *snapshotId = member.snapshotId;
        details = GuidText(member.snapshotId);
        return S_OK;
    });
}

HRESULT Components::PrepareForBackup(IVssAsync** async) {
    return Operate(
        L"PrepareForBackup", async,
        [&] {
            const bool ready = initialized_ && !aborted_ && !prepared_ && backupStateSet_ &&
                               (gathered_ || !WithWriters());
            return ready ? S_OK : VSS_E_BAD_STATE;
        },
        [&] {
            prepared_ = true;
            return S_OK;
        });
}

HRESULT Components::DoSnapshotSet(IVssAsync** async) {
    return Operate(
        L"DoSnapshotSet", async,
        [&] {
            const bool ready = initialized_ && !aborted_ && set_ == SetState::Open &&
                               !members_.empty() && (prepared_ || !WithWriters());
            if (!ready)
                return VSS_E_BAD_STATE;
            set_ = SetState::Closed;  // made below, unless the script says otherwise
            return S_OK;
        },
        [&] {
            const HRESULT made = MakeSnapshots();
            EndCreation();
            return made;
        });
}

HRESULT Components::MakeSnapshots() {
    std::vector<SnapshotRecord> made;
    HRESULT hr = S_OK;
    for (const SetMember& member : members_) {
        SnapshotRecord record;
        record.id = member.snapshotId;
        record.setId = setId_;
        record.setCount = static_cast<LONG>(members_.size());
        record.context = context_;
        record.volume = member.volume;
        record.created = Now();
        Store::Identify(record);
        hr = store_.Freeze(record, settings_.frozen);
        if (FAILED(hr))
            break;
        made.push_back(record);
        hr = store_.Publish(record);
        if (FAILED(hr))
            break;
    }
    if (FAILED(hr)) {
        for (const SnapshotRecord& record : made)
            store_.Remove(record);
        return hr;
    }
    made_ = made;
    set_ = SetState::Made;
    return S_OK;
}

HRESULT Components::BackupComplete(IVssAsync** async) {
    return Operate(
        L"BackupComplete", async,
        [&] {
            const bool ready = initialized_ && !aborted_ && set_ == SetState::Made && !completed_;
            return ready ? S_OK : VSS_E_BAD_STATE;
        },
        [&] {
            completed_ = true;
            return S_OK;
        });
}

HRESULT Components::AbortBackup() {
    return Run(L"AbortBackup", L"", [&](std::wstring&) -> HRESULT {
        if (!initialized_)
            return VSS_E_BAD_STATE;
        aborted_ = true;
        EndCreation();
        if (set_ == SetState::Open)
            set_ = SetState::Closed;
        return S_OK;
    });
}

HRESULT Components::GetSnapshotProperties(VSS_ID snapshotId, VSS_SNAPSHOT_PROP* prop) {
    return Run(L"GetSnapshotProperties", GuidText(snapshotId),
               [&](std::wstring& details) -> HRESULT {
                   if (prop == nullptr)
                       return E_INVALIDARG;
                   if (!initialized_)
                       return VSS_E_BAD_STATE;
                   for (const SnapshotRecord& record : store_.List()) {
                       if (record.id != snapshotId || !Visible(record))
                           continue;
                       details = store_.DeviceOf(record);
                       return FillProperties(store_, record, *prop);
                   }
                   return VSS_E_OBJECT_NOT_FOUND;
               });
}

HRESULT Components::DeleteSnapshots(VSS_ID source, VSS_OBJECT_TYPE type, WINBOOL force,
                                    LONG* deleted, VSS_ID* nondeleted) {
    const std::wstring arguments =
        GuidText(source) + L" " + std::to_wstring(type) + L" " + std::to_wstring(force);
    return Run(L"DeleteSnapshots", arguments, [&](std::wstring& details) -> HRESULT {
        if (deleted == nullptr || nondeleted == nullptr ||
            (type != VSS_OBJECT_SNAPSHOT_SET && type != VSS_OBJECT_SNAPSHOT))
            return E_INVALIDARG;
        *deleted = 0;
        *nondeleted = GUID_NULL;
        if (!initialized_)
            return VSS_E_BAD_STATE;
        for (const SnapshotRecord& record : store_.List()) {
            const VSS_ID& id = type == VSS_OBJECT_SNAPSHOT_SET ? record.setId : record.id;
            if (id != source || !Visible(record))
                continue;
            store_.Remove(record);
            ++*deleted;
        }
        details = L"deleted " + std::to_wstring(*deleted);
        return *deleted > 0 ? S_OK : VSS_E_OBJECT_NOT_FOUND;
    });
}

HRESULT Components::Query(VSS_ID queried, VSS_OBJECT_TYPE queriedType, VSS_OBJECT_TYPE returnedType,
                          IVssEnumObject** list) {
    const std::wstring arguments = GuidText(queried) + L" " + std::to_wstring(queriedType) + L" " +
                                   std::to_wstring(returnedType);
    if (list != nullptr)
        *list = nullptr;
    return Run(L"Query", arguments, [&](std::wstring& details) -> HRESULT {
        if (list == nullptr || queried != GUID_NULL || queriedType != VSS_OBJECT_NONE)
            return E_INVALIDARG;
        if (returnedType != VSS_OBJECT_SNAPSHOT)
            return E_NOTIMPL;  // providers are not listed
        if (!initialized_)
            return VSS_E_BAD_STATE;
        std::vector<SnapshotRecord> found;
        for (const SnapshotRecord& record : store_.List())
            if (Visible(record))
                found.push_back(record);
        details = L"found " + std::to_wstring(found.size());
        *list = new SnapshotList(store_, found);
        return S_OK;
    });
}

// What the workflows never call.
HRESULT Components::GetWriterComponentsCount(UINT*) {
    return NotImplemented(L"GetWriterComponentsCount");
}
HRESULT Components::GetWriterComponents(UINT, IVssWriterComponentsExt**) {
    return NotImplemented(L"GetWriterComponents");
}
HRESULT Components::InitializeForRestore(BSTR) { return NotImplemented(L"InitializeForRestore"); }
HRESULT Components::SetRestoreState(VSS_RESTORE_TYPE) { return NotImplemented(L"SetRestoreState"); }
HRESULT Components::GetWriterMetadataCount(UINT*) {
    return NotImplemented(L"GetWriterMetadataCount");
}
HRESULT Components::GetWriterMetadata(UINT, VSS_ID*, IVssExamineWriterMetadata**) {
    return NotImplemented(L"GetWriterMetadata");
}
HRESULT Components::FreeWriterMetadata() { return NotImplemented(L"FreeWriterMetadata"); }
HRESULT Components::AddComponent(VSS_ID, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR) {
    return NotImplemented(L"AddComponent");
}
HRESULT Components::GatherWriterStatus(IVssAsync**) {
    return NotImplemented(L"GatherWriterStatus");
}
HRESULT Components::GetWriterStatusCount(UINT*) { return NotImplemented(L"GetWriterStatusCount"); }
HRESULT Components::FreeWriterStatus() { return NotImplemented(L"FreeWriterStatus"); }
HRESULT Components::GetWriterStatus(UINT, VSS_ID*, VSS_ID*, BSTR*, VSS_WRITER_STATE*, HRESULT*) {
    return NotImplemented(L"GetWriterStatus");
}
HRESULT Components::SetBackupSucceeded(VSS_ID, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                       boolean) {
    return NotImplemented(L"SetBackupSucceeded");
}
HRESULT Components::SetBackupOptions(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR) {
    return NotImplemented(L"SetBackupOptions");
}
HRESULT Components::SetSelectedForRestore(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, boolean) {
    return NotImplemented(L"SetSelectedForRestore");
}
HRESULT Components::SetRestoreOptions(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR) {
    return NotImplemented(L"SetRestoreOptions");
}
HRESULT Components::SetAdditionalRestores(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, boolean) {
    return NotImplemented(L"SetAdditionalRestores");
}
HRESULT Components::SetPreviousBackupStamp(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR) {
    return NotImplemented(L"SetPreviousBackupStamp");
}
HRESULT Components::SaveAsXML(BSTR*) { return NotImplemented(L"SaveAsXML"); }
HRESULT Components::AddAlternativeLocationMapping(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                  LPCWSTR, LPCWSTR, boolean, LPCWSTR) {
    return NotImplemented(L"AddAlternativeLocationMapping");
}
HRESULT Components::AddRestoreSubcomponent(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR,
                                           LPCWSTR, boolean) {
    return NotImplemented(L"AddRestoreSubcomponent");
}
HRESULT Components::SetFileRestoreStatus(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                         VSS_FILE_RESTORE_STATUS) {
    return NotImplemented(L"SetFileRestoreStatus");
}
HRESULT Components::AddNewTarget(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR,
                                 boolean, LPCWSTR) {
    return NotImplemented(L"AddNewTarget");
}
HRESULT Components::SetRangesFilePath(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, UINT, LPCWSTR) {
    return NotImplemented(L"SetRangesFilePath");
}
HRESULT Components::PreRestore(IVssAsync**) { return NotImplemented(L"PreRestore"); }
HRESULT Components::PostRestore(IVssAsync**) { return NotImplemented(L"PostRestore"); }
HRESULT Components::ImportSnapshots(IVssAsync**) { return NotImplemented(L"ImportSnapshots"); }
HRESULT Components::BreakSnapshotSet(VSS_ID) { return NotImplemented(L"BreakSnapshotSet"); }
HRESULT Components::IsVolumeSupported(VSS_ID, VSS_PWSZ, WINBOOL*) {
    return NotImplemented(L"IsVolumeSupported");
}
HRESULT Components::DisableWriterClasses(const VSS_ID*, UINT) {
    return NotImplemented(L"DisableWriterClasses");
}
HRESULT Components::EnableWriterClasses(const VSS_ID*, UINT) {
    return NotImplemented(L"EnableWriterClasses");
}
HRESULT Components::DisableWriterInstances(const VSS_ID*, UINT) {
    return NotImplemented(L"DisableWriterInstances");
}
HRESULT Components::ExposeSnapshot(VSS_ID, VSS_PWSZ, LONG, VSS_PWSZ, VSS_PWSZ*) {
    return NotImplemented(L"ExposeSnapshot");
}
HRESULT Components::RevertToSnapshot(VSS_ID, WINBOOL) {
    return NotImplemented(L"RevertToSnapshot");
}
HRESULT Components::QueryRevertStatus(VSS_PWSZ, IVssAsync**) {
    return NotImplemented(L"QueryRevertStatus");
}

}  // namespace standin
