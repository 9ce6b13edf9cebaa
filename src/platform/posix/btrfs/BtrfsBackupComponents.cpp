// The components object: the order of calls that VSS enforces, the snapshot set, and the
// writers (WriterSession.h).
//
//   created --InitializeForBackup--> initialized --StartSnapshotSet--> set started
//   set started --DoSnapshotSet--> taken (or failed) --BackupComplete--> completed
//   any state but created --AbortBackup--> aborted
//
// GatherWriterMetadata starts the writers, PrepareForBackup prepares those with a path on a
// volume of the set, DoSnapshotSet takes the set between their freeze and thaw,
// BackupComplete tells them the end, AbortBackup and the last Release abort them. An
// operation that involves writers runs on a thread of its own (OperationWorker.h); while it
// runs, the object refuses other calls with VSS_E_BAD_STATE, and AbortBackup cancels it.
// Without writers (none in the folder, none with a path in the set, or a context without
// writers) the work is done inside the call, as the cheap path it is. From StartSnapshotSet
// until DoSnapshotSet has ended (or the set is let go) the object holds the system's one
// set-creation lock (SetCreationLock.h): another requester's StartSnapshotSet is refused
// meanwhile with VSS_E_SNAPSHOT_SET_IN_PROGRESS, as VSS refuses it.
#include "platform/posix/btrfs/BtrfsBackupComponents.h"

#include "Quorlin.h"

#include "platform/posix/btrfs/OperationWorker.h"
#include "platform/posix/btrfs/ServiceOperation.h"
#include "platform/posix/btrfs/ErrnoResult.h"
#include "platform/posix/btrfs/Guid.h"
#include "platform/posix/btrfs/GuardedCall.h"
#include "platform/posix/btrfs/RefCounted.h"
#include "platform/posix/btrfs/SetCreationLock.h"
#include "platform/posix/btrfs/SnapshotSet.h"
#include "platform/posix/btrfs/StoredSnapshotDeletion.h"
#include "platform/posix/btrfs/StoredSnapshots.h"
#include "platform/posix/Utf8.h"
#include "platform/posix/writers/WriterFolder.h"
#include "platform/posix/writers/WriterSession.h"
#include "diag/CaughtFailure.h"

#include <cerrno>
#include <cwchar>
#include <memory>
#include <utility>
#include <vector>

namespace quorlin {

namespace {

// Far more volumes than VSS takes in one set (64): what a set of the btrfs service costs
// grows with its volumes (a thread and a folder each while it is taken, two descriptors
// each until then, one while it is held), and so does the tree a host walks.
const size_t kMaximumVolumes = QUORLIN_MAXIMUM_VOLUMES_LINUX;

enum class State { kCreated, kInitialized, kSetStarted, kTaken, kFailed, kCompleted, kAborted };

class BtrfsBackupComponents : public RefCounted<BackupComponents> {
public:
    BtrfsBackupComponents(VolumeCalls& calls, const WriterSettings& writers)
        : calls_(calls), settings_(writers), set_(calls) {}

    // The last reference is gone: work still running is cancelled, writers still running are
    // aborted, and auto-release snapshots go.
    ~BtrfsBackupComponents() override {
        worker_.Stop();
        RunDroppingFailures([this] { writers_.reset(); });
        RunDroppingFailures([this] { set_.Release(); });
    }

    HRESULT InitializeForBackup(const wchar_t* xml) override {
        if (worker_.Busy() || phase_ != State::kCreated)
            return VSS_E_BAD_STATE;
        if (xml != nullptr)
            return E_INVALIDARG;  // no writers, so no saved document to load
        phase_ = State::kInitialized;
        return S_OK;
    }

    HRESULT SetContext(LONG context) override {
        if (worker_.Busy() || phase_ != State::kInitialized)
            return VSS_E_BAD_STATE;
        if (context != VSS_CTX_BACKUP && context != VSS_CTX_NAS_ROLLBACK)
            return E_INVALIDARG;
        context_ = context;
        return S_OK;
    }

    HRESULT GatherWriterMetadata(ComPtr<AsyncOperation>& async) override {
        if (!BeforeSnapshot())
            return VSS_E_BAD_STATE;
        return GuardedCall([&] {
            if (writers_ || (context_ & VSS_VOLSNAP_ATTR_NO_WRITERS) != 0)
                return MakeCompletedOperation(VSS_S_ASYNC_FINISHED, async);
            std::vector<WriterProgram> programs =
                FindWriters(settings_.folder.empty() ? WritersFolder() : settings_.folder);
            writers_.reset(new WriterSession(settings_.bounds));
            if (programs.empty())
                return MakeCompletedOperation(VSS_S_ASYNC_FINISHED, async);
            auto shared = std::make_shared<std::vector<WriterProgram>>(std::move(programs));
            return worker_.Start(
                [this, shared](const Cancellation& cancel) {
                    return Finished(writers_->Start(std::move(*shared), cancel));
                },
                async);
        });
    }

    HRESULT SetBackupState(bool, bool, VSS_BACKUP_TYPE backupType, bool) override {
        if (!BeforeSnapshot())
            return VSS_E_BAD_STATE;
        if (backupType < VSS_BT_FULL || backupType > VSS_BT_OTHER)
            return E_INVALIDARG;
        backupType_ = backupType;
        return S_OK;
    }

    HRESULT StartSnapshotSet(VSS_ID* snapshotSetId) override {
        if (worker_.Busy() || phase_ != State::kInitialized)
            return VSS_E_BAD_STATE;
        if (snapshotSetId == nullptr)
            return E_INVALIDARG;
        return GuardedCall([&] {
            UniqueFd lock;
            // Where the lock cannot be had at all (no root, no /run) sets are not kept
            // apart; nothing but the one-at-a-time rule depends on it.
            if (LockSetCreation(lock) == EWOULDBLOCK)
                return VSS_E_SNAPSHOT_SET_IN_PROGRESS;
            VSS_ID id;
            const int error = NewRandomGuid(id);
            if (error != 0)
                return ReportErrno("drawing a set identity from", "getrandom", error);
            creationLock_ = std::move(lock);
            set_.Start(id, context_);
            *snapshotSetId = id;
            phase_ = State::kSetStarted;
            return S_OK;
        });
    }

    HRESULT AddToSnapshotSet(const wchar_t* volumeName, const VSS_ID& providerId,
                             VSS_ID* snapshotId) override {
        if (worker_.Busy() || phase_ != State::kSetStarted)
            return VSS_E_BAD_STATE;
        if (volumeName == nullptr || snapshotId == nullptr)
            return E_INVALIDARG;
        if (providerId != GUID_NULL)
            return VSS_E_PROVIDER_NOT_REGISTERED;
        if (set_.Size() >= kMaximumVolumes)
            return VSS_E_MAXIMUM_NUMBER_OF_VOLUMES_REACHED;
        return GuardedCall([&] {
            std::string name;
            if (ToUtf8Exact(volumeName, std::wcslen(volumeName), name) != 0)
                return VSS_E_OBJECT_NOT_FOUND;  // wide text that names no bytes names no volume
            BtrfsVolume volume;
            HRESULT hr = OpenBtrfsVolume(name, volume);
            if (hr != S_OK)
                return hr;
            if (set_.Contains(volume))
                return VSS_E_OBJECT_ALREADY_EXISTS;
            if (!set_.HasFileSystem(volume.fileSystem))
                SweepLeftovers(volume);  // once per file system and set
            VSS_ID id;
            const int error = NewRandomGuid(id);
            if (error != 0)
                return ReportErrno("drawing a snapshot identity from", "getrandom", error);
            set_.Add(volumeName, std::move(volume), id);
            *snapshotId = id;
            return S_OK;
        });
    }

    HRESULT PrepareForBackup(ComPtr<AsyncOperation>& async) override {
        if (!BeforeSnapshot())
            return VSS_E_BAD_STATE;
        if (!writers_ || !writers_->Running())
            return MakeCompletedOperation(VSS_S_ASYNC_FINISHED, async);
        return GuardedCall([&] {
            const std::vector<dev_t> volumes = set_.Devices();
            const bool incremental = backupType_ == VSS_BT_INCREMENTAL;
            return worker_.Start(
                [this, volumes, incremental](const Cancellation& cancel) {
                    return Finished(writers_->Prepare(volumes, incremental, cancel));
                },
                async);
        });
    }

    HRESULT DoSnapshotSet(ComPtr<AsyncOperation>& async) override {
        if (worker_.Busy() || phase_ != State::kSetStarted || set_.Size() == 0)
            return VSS_E_BAD_STATE;
        if (writers_ && writers_->Running() && !writers_->Prepared())
            return VSS_E_BAD_STATE;  // writers that were gathered must be prepared first
        if (writers_ && writers_->AnyTakingPart())
            return GuardedCall([&] {
                return worker_.Start(
                    [this](const Cancellation& cancel) { return SnapshotWithWriters(cancel); },
                    async);
            });
        return GuardedCall([&] {
            ComPtr<AsyncOperation> operation;
            HRESULT hr = MakeCompletedOperation(VSS_S_ASYNC_FINISHED, operation);
            if (hr != S_OK)
                return hr;  // nothing taken yet: no snapshot without its report
            hr = set_.Take();
            creationLock_.Reset();  // the set is made: others may make theirs
            setTaken_ = hr == S_OK;
            phase_ = setTaken_ ? State::kTaken : State::kFailed;
            if (hr != S_OK)
                return MakeCompletedOperation(hr, async);
            async = std::move(operation);
            return S_OK;
        });
    }

    HRESULT GetSnapshotProperties(const VSS_ID& snapshotId,
                                  SnapshotProperties* properties) override {
        if (properties == nullptr)
            return E_INVALIDARG;
        if (worker_.Busy() || phase_ == State::kCreated)
            return VSS_E_BAD_STATE;
        return GuardedCall([&] {
            // A snapshot of a set that failed is only a remnant waiting for removal.
            const SnapshotSet::Member* member = setTaken_ ? set_.FindTaken(snapshotId) : nullptr;
            if (member == nullptr)
                return VSS_E_OBJECT_NOT_FOUND;
            SnapshotProperties result;
            result.snapshotId = snapshotId;
            result.snapshotSetId = set_.Id();
            result.snapshotDeviceObject = DeviceObjectOf(*member);
            result.originalVolumeName = member->volumeName;
            *properties = std::move(result);
            return S_OK;
        });
    }

    HRESULT QuerySetInstant(SetInstant& instant) override {
        if (worker_.Busy() || !setTaken_)
            return VSS_E_BAD_STATE;
        instant = set_.Instant();
        return S_OK;
    }

    HRESULT BackupComplete(ComPtr<AsyncOperation>& async) override {
        if (worker_.Busy() || phase_ != State::kTaken)
            return VSS_E_BAD_STATE;
        const HRESULT hr = GuardedCall([&] {
            if (!writers_ || !writers_->AnyTakingPart())
                return MakeCompletedOperation(VSS_S_ASYNC_FINISHED, async);
            return worker_.Start(
                [this](const Cancellation& cancel) {
                    return Finished(writers_->Complete(true, cancel));
                },
                async);
        });
        if (hr == S_OK)
            phase_ = State::kCompleted;
        return hr;
    }

    // Cancels work that runs, then aborts the writers and lets the set go.
    HRESULT AbortBackup() override {
        worker_.Stop();
        if (phase_ == State::kCreated)
            return VSS_E_BAD_STATE;
        phase_ = State::kAborted;
        creationLock_.Reset();
        return GuardedCall([&] {
            if (writers_)
                writers_->Abort();
            set_.Release();
            return S_OK;
        });
    }

    HRESULT DeleteSnapshots(const VSS_ID& sourceObjectId, VSS_OBJECT_TYPE sourceObjectType, bool,
                            LONG* deletedSnapshots, VSS_ID* nondeletedSnapshotId) override {
        if (deletedSnapshots == nullptr || nondeletedSnapshotId == nullptr)
            return E_INVALIDARG;
        *deletedSnapshots = 0;
        *nondeletedSnapshotId = GUID_NULL;
        if (worker_.Busy() || phase_ == State::kCreated)
            return VSS_E_BAD_STATE;
        if (sourceObjectType != VSS_OBJECT_SNAPSHOT_SET && sourceObjectType != VSS_OBJECT_SNAPSHOT)
            return E_INVALIDARG;
        return GuardedCall([&] {
            DeletionTally tally;
            const bool ownSet =
                sourceObjectType == VSS_OBJECT_SNAPSHOT_SET && sourceObjectId == set_.Id();
            bool matched = false;
            if (ownSet || sourceObjectType == VSS_OBJECT_SNAPSHOT)
                matched = set_.Delete(ownSet ? nullptr : &sourceObjectId, tally);
            if (!matched)
                matched = DeleteStoredSnapshots(calls_, sourceObjectId, sourceObjectType, tally);
            *deletedSnapshots = tally.deleted;
            *nondeletedSnapshotId = tally.firstNotDeleted;
            return matched ? tally.firstFailure : VSS_E_OBJECT_NOT_FOUND;
        });
    }

private:
    bool BeforeSnapshot() const {
        return !worker_.Busy() && (phase_ == State::kInitialized || phase_ == State::kSetStarted);
    }

    // The operation's status for a writer phase's result.
    static HRESULT Finished(HRESULT hr) { return hr == S_OK ? VSS_S_ASYNC_FINISHED : hr; }

    // DoSnapshotSet's work with writers, on the worker's thread: the set is taken while
    // every writer that takes part holds, and the writers are thawed whatever happened. A
    // writer that fails, or a cancellation, rolls back what was taken.
    HRESULT SnapshotWithWriters(const Cancellation& cancel) {
        HRESULT hr = writers_->Freeze(cancel);
        if (hr == S_OK && !cancel.Fired())
            hr = set_.Take(&cancel);  // removes what it made when it fails
        const bool taken = hr == S_OK;
        creationLock_.Reset();  // made or not: the thaw need not keep others waiting
        const HRESULT thawed = writers_->Thaw(cancel);
        if (hr == S_OK)
            hr = thawed;
        if (cancel.Fired())
            hr = VSS_S_ASYNC_CANCELLED;
        if (taken && hr != S_OK)
            set_.RollBack();
        setTaken_ = hr == S_OK;
        phase_ = setTaken_ ? State::kTaken : State::kFailed;
        return Finished(hr);
    }

    // The member's device object as wide text, made once: hosts ask for the properties
    // of one snapshot once per path.
    const std::wstring& DeviceObjectOf(const SnapshotSet::Member& member) {
        for (const auto& known : deviceObjects_)
            if (known.first == member.snapshotId)
                return known.second;
        deviceObjects_.emplace_back(member.snapshotId, FromUtf8(set_.DevicePath(member)));
        return deviceObjects_.back().second;
    }

    // Auto-release snapshots that a process left behind when it died go before a new
    // snapshot of the file system. A sweep that fails leaves them for the next one.
    void SweepLeftovers(const BtrfsVolume& volume) {
        SweepAbandonedSnapshots(calls_, volume.mountRoot.Get(), volume.store.Get());
    }

    VolumeCalls& calls_;
    const WriterSettings settings_;
    State phase_ = State::kCreated;
    bool setTaken_ = false;  // DoSnapshotSet succeeded
    LONG context_ = VSS_CTX_BACKUP;
    VSS_BACKUP_TYPE backupType_ = VSS_BT_FULL;
    SnapshotSet set_;
    std::vector<std::pair<VSS_ID, std::wstring>> deviceObjects_;
    std::unique_ptr<WriterSession> writers_;  // once the writers' metadata is gathered
    UniqueFd creationLock_;                   // from StartSnapshotSet until DoSnapshotSet has ended
    OperationWorker worker_;                  // stopped first by the destructor
};

}  // namespace

HRESULT CreateBtrfsBackupComponents(VolumeCalls& calls, ComPtr<BackupComponents>& components,
                                    const WriterSettings& writers) {
    return GuardedCall(
        [&] { return CreateCounted<BtrfsBackupComponents>(components, calls, writers); });
}

}  // namespace quorlin
