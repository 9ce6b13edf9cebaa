#include "support/ScriptedRequester.h"

#include <cstdio>

namespace quorlin {
namespace testing {

namespace {

std::string Narrow(const wchar_t* text) {
    std::string out;
    for (; text != nullptr && *text != L'\0'; ++text)
        out += static_cast<uint32_t>(*text) < 0x80 ? static_cast<char>(*text) : '?';
    return out;
}

VSS_ID MakeId(uint32_t kind, int n) {
    VSS_ID id = GUID_NULL;
    id.Data1 = kind;
    id.Data4[7] = static_cast<uint8_t>(n);
    id.Data4[6] = static_cast<uint8_t>(n >> 8);
    id.Data4[5] = static_cast<uint8_t>(n >> 16);
    return id;
}

}  // namespace

VSS_ID SetId(int n) { return MakeId(0x5E7, n); }
VSS_ID SnapshotId(int n) { return MakeId(0x5A9, n); }

std::string IdText(const VSS_ID& id) {
    if (id == GUID_NULL)
        return "null";
    const int n = id.Data4[7] | (id.Data4[6] << 8) | (id.Data4[5] << 16);
    if (id.Data1 == 0x5E7)
        return "set" + std::to_string(n);
    if (id.Data1 == 0x5A9)
        return "snap" + std::to_string(n);
    char text[64];
    std::snprintf(text, sizeof text, "{%08x-...}", static_cast<unsigned>(id.Data1));
    return text;
}

class ScriptedRequester::Async : public AsyncOperation {
public:
    Async(ScriptedRequester& owner, std::string operation, HRESULT status)
        : owner_(owner), operation_(std::move(operation)), status_(status) {}

    unsigned long AddRef() override { return ++references_; }
    unsigned long Release() override { return --references_; }
    unsigned long References() const { return references_; }

    HRESULT Wait(DWORD milliseconds) override {
        return owner_.Record(operation_ + ".Wait", std::to_string(milliseconds));
    }
    HRESULT QueryStatus(HRESULT* status, int* reserved) override {
        const HRESULT hr = owner_.Record(operation_ + ".QueryStatus", reserved ? "reserved" : "");
        if (hr == S_OK)
            *status = status_;
        return hr;
    }
    // As VSS: a pending operation becomes cancelled. A scripted VSS_S_ASYNC_FINISHED
    // stands for one that ended just before: it becomes finished.
    HRESULT Cancel() override {
        const HRESULT hr = owner_.Record(operation_ + ".Cancel", "");
        if (hr == VSS_S_ASYNC_FINISHED && status_ == VSS_S_ASYNC_PENDING)
            status_ = VSS_S_ASYNC_FINISHED;
        if (hr != S_OK)
            return hr;
        if (status_ != VSS_S_ASYNC_PENDING)
            return status_ == VSS_S_ASYNC_CANCELLED ? VSS_S_ASYNC_CANCELLED : VSS_S_ASYNC_FINISHED;
        status_ = VSS_S_ASYNC_CANCELLED;
        return S_OK;
    }

private:
    ScriptedRequester& owner_;
    std::string operation_;
    HRESULT status_;
    unsigned long references_ = 0;
};

ScriptedRequester::Scope::Scope(ScriptedRequester& requester)
    : previous_(SetBackupComponentsFactory([&requester](ComPtr<BackupComponents>& components) {
          return requester.Create(components);
      })) {}

ScriptedRequester::Scope::~Scope() { SetBackupComponentsFactory(previous_); }

ScriptedRequester::ScriptedRequester() = default;
ScriptedRequester::~ScriptedRequester() = default;

void ScriptedRequester::Fail(const std::string& call, HRESULT hr, int occurrence) {
    failures_[call] = {occurrence, hr};
}

void ScriptedRequester::SetStatus(const std::string& operation, HRESULT status) {
    statuses_[operation] = status;
}

void ScriptedRequester::FailCallNumber(int n, HRESULT hr) { failedCallNumbers_[n] = hr; }

std::vector<std::string> ScriptedRequester::CallsNamed(const std::string& prefix) const {
    std::vector<std::string> named;
    for (const std::string& call : calls_)
        if (call.compare(0, prefix.size(), prefix) == 0)
            named.push_back(call);
    return named;
}

int ScriptedRequester::LiveAsyncObjects() const {
    int live = 0;
    for (const auto& async : asyncObjects_)
        if (async->References() > 0)
            ++live;
    return live;
}

HRESULT ScriptedRequester::Record(const std::string& name, const std::string& arguments) {
    if (beforeCall)
        beforeCall(name);
    if (recording)
        calls_.push_back(name + "(" + arguments + ")");
    const int occurrence = ++occurrences_[name];
    auto byNumber = failedCallNumbers_.find(++callCount_);
    if (byNumber != failedCallNumbers_.end())
        return byNumber->second;
    auto failure = failures_.find(name);
    if (failure != failures_.end() && occurrence >= failure->second.first)
        return failure->second.second;
    return S_OK;
}

HRESULT ScriptedRequester::Create(ComPtr<BackupComponents>& components) {
    const HRESULT hr = Record("CreateVssBackupComponents", "");
    if (hr == S_OK || createFailureGivesObject) {
        ++created_;
        components = ComPtr<BackupComponents>(this);
    }
    return hr;
}

HRESULT ScriptedRequester::StartAsync(const std::string& operation, ComPtr<AsyncOperation>& async) {
    const HRESULT hr = Record(operation, "");
    if (hr != S_OK)
        return hr;
    auto found = statuses_.find(operation);
    const HRESULT status = found == statuses_.end() ? VSS_S_ASYNC_FINISHED : found->second;
    asyncObjects_.push_back(std::make_unique<Async>(*this, operation, status));
    async = ComPtr<AsyncOperation>(asyncObjects_.back().get());
    return S_OK;
}

HRESULT ScriptedRequester::InitializeForBackup(const wchar_t* xml) {
    return Record("InitializeForBackup", xml ? Narrow(xml) : "null");
}

HRESULT ScriptedRequester::SetContext(LONG context) {
    return Record("SetContext", std::to_string(context));
}

HRESULT ScriptedRequester::GatherWriterMetadata(ComPtr<AsyncOperation>& async) {
    return StartAsync("GatherWriterMetadata", async);
}

HRESULT ScriptedRequester::SetBackupState(bool selectComponents, bool bootableSystemState,
                                          VSS_BACKUP_TYPE backupType, bool partialFileSupport) {
    return Record("SetBackupState",
                  std::to_string(selectComponents) + "," + std::to_string(bootableSystemState) +
                      "," + std::to_string(backupType) + "," + std::to_string(partialFileSupport));
}

HRESULT ScriptedRequester::StartSnapshotSet(VSS_ID* snapshotSetId) {
    const HRESULT hr = Record("StartSnapshotSet", "");
    if (hr == S_OK)
        *snapshotSetId = SetId(++sets_);
    return hr;
}

HRESULT ScriptedRequester::AddToSnapshotSet(const wchar_t* volumeName, const VSS_ID& providerId,
                                            VSS_ID* snapshotId) {
    const HRESULT hr = Record("AddToSnapshotSet", Narrow(volumeName) + "," + IdText(providerId));
    if (hr == S_OK) {
        *snapshotId = SnapshotId(++snapshots_);
        snapshotsByVolume_[volumeName] = *snapshotId;
        volumesBySnapshot_[IdText(*snapshotId)] = volumeName;
    }
    return hr;
}

HRESULT ScriptedRequester::PrepareForBackup(ComPtr<AsyncOperation>& async) {
    return StartAsync("PrepareForBackup", async);
}

HRESULT ScriptedRequester::DoSnapshotSet(ComPtr<AsyncOperation>& async) {
    return StartAsync("DoSnapshotSet", async);
}

HRESULT ScriptedRequester::GetSnapshotProperties(const VSS_ID& snapshotId,
                                                 SnapshotProperties* properties) {
    const HRESULT hr = Record("GetSnapshotProperties", IdText(snapshotId));
    if (hr != S_OK)
        return hr;
    const std::wstring volume = volumesBySnapshot_[IdText(snapshotId)];
    auto device = devices.find(volume);
    const int n = snapshotId.Data4[7] | (snapshotId.Data4[6] << 8);
    properties->snapshotId = snapshotId;
    properties->originalVolumeName = volume;
    properties->snapshotDeviceObject =
        device != devices.end()
            ? device->second
            : L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy" + std::to_wstring(n);
    return S_OK;
}

HRESULT ScriptedRequester::BackupComplete(ComPtr<AsyncOperation>& async) {
    return StartAsync("BackupComplete", async);
}

HRESULT ScriptedRequester::AbortBackup() { return Record("AbortBackup", ""); }

HRESULT ScriptedRequester::QuerySetInstant(SetInstant& answer) {
    const HRESULT hr = Record("QuerySetInstant", "");
    if (hr == S_OK)
        answer = instant;
    return hr;
}

HRESULT ScriptedRequester::DeleteSnapshots(const VSS_ID& sourceObjectId,
                                           VSS_OBJECT_TYPE sourceObjectType, bool forceDelete,
                                           LONG* deletedSnapshots, VSS_ID* nondeletedSnapshotId) {
    const HRESULT hr =
        Record("DeleteSnapshots", IdText(sourceObjectId) + "," + std::to_string(sourceObjectType) +
                                      "," + std::to_string(forceDelete));
    *deletedSnapshots = hr == S_OK && undeletedSnapshot == GUID_NULL ? 1 : 0;
    *nondeletedSnapshotId = undeletedSnapshot;
    return hr;
}

}  // namespace testing
}  // namespace quorlin
