// The components object: the order of calls that VSS enforces, and the snapshot set.
//
//   created --InitializeForBackup--> initialized --StartSnapshotSet--> set started
//   set started --DoSnapshotSet--> taken (or failed) --BackupComplete--> completed
//   any state but created --AbortBackup--> aborted
//
// Without writers there is nothing to gather, prepare or tell: those calls succeed in
// the states where VSS accepts them.
#include "platform/posix/btrfs/BtrfsBackupComponents.h"

#include "platform/posix/btrfs/ServiceOperation.h"
#include "platform/posix/btrfs/ErrnoResult.h"
#include "platform/posix/btrfs/Guid.h"
#include "platform/posix/btrfs/GuardedCall.h"
#include "platform/posix/btrfs/RefCounted.h"
#include "platform/posix/btrfs/SnapshotSet.h"
#include "platform/posix/btrfs/StoredSnapshotDeletion.h"
#include "platform/posix/btrfs/StoredSnapshots.h"
#include "platform/posix/Utf8.h"
#include "snapshot/FailureCapture.h"

#include <cwchar>

namespace quorlin {

namespace {

// As many volumes as VSS takes in one set.
const size_t kMaximumVolumes = 64;

enum class Phase { kCreated, kInitialized, kSetStarted, kTaken, kFailed, kCompleted, kAborted };

class BtrfsBackupComponents : public RefCounted<BackupComponents> {
public:
    explicit BtrfsBackupComponents(VolumeCalls& calls) : calls_(calls), set_(calls) {}

    // The last reference is gone: auto-release snapshots go with it.
    ~BtrfsBackupComponents() override {
        RunDroppingFailures([this] { set_.Release(); });
    }

    HRESULT InitializeForBackup(const wchar_t* xml) override {
        if (phase_ != Phase::kCreated)
            return VSS_E_BAD_STATE;
        if (xml != nullptr)
            return E_INVALIDARG;  // no writers, so no saved document to load
        phase_ = Phase::kInitialized;
        return S_OK;
    }

    HRESULT SetContext(LONG context) override {
        if (phase_ != Phase::kInitialized)
            return VSS_E_BAD_STATE;
        if (context != VSS_CTX_BACKUP && context != VSS_CTX_NAS_ROLLBACK)
            return E_INVALIDARG;
        context_ = context;
        return S_OK;
    }

    HRESULT GatherWriterMetadata(ComPtr<AsyncOperation>& async) override {
        return BeforeSnapshot() ? MakeCompletedOperation(VSS_S_ASYNC_FINISHED, async)
                                : VSS_E_BAD_STATE;
    }

    HRESULT SetBackupState(bool, bool, VSS_BACKUP_TYPE backupType, bool) override {
        if (!BeforeSnapshot())
            return VSS_E_BAD_STATE;
        return backupType >= VSS_BT_FULL && backupType <= VSS_BT_OTHER ? S_OK : E_INVALIDARG;
    }

    HRESULT StartSnapshotSet(VSS_ID* snapshotSetId) override {
        if (phase_ != Phase::kInitialized)
            return VSS_E_BAD_STATE;
        if (snapshotSetId == nullptr)
            return E_INVALIDARG;
        return GuardedCall([&] {
            VSS_ID id;
            const int error = NewRandomGuid(id);
            if (error != 0)
                return ReportErrno("drawing a set identity from", "getrandom", error);
            set_.Start(id, context_);
            *snapshotSetId = id;
            phase_ = Phase::kSetStarted;
            return S_OK;
        });
    }

    HRESULT AddToSnapshotSet(const wchar_t* volumeName, const VSS_ID& providerId,
                             VSS_ID* snapshotId) override {
        if (phase_ != Phase::kSetStarted)
            return VSS_E_BAD_STATE;
        if (volumeName == nullptr || snapshotId == nullptr)
            return E_INVALIDARG;
        if (providerId != GUID_NULL)
            return VSS_E_PROVIDER_NOT_REGISTERED;
        if (set_.Size() >= kMaximumVolumes)
            return VSS_E_MAXIMUM_NUMBER_OF_VOLUMES_REACHED;
        return GuardedCall([&] {
            BtrfsVolume volume;
            HRESULT hr = OpenBtrfsVolume(ToUtf8(volumeName, std::wcslen(volumeName)), volume);
            if (hr != S_OK)
                return hr;
            if (set_.Contains(volume))
                return VSS_E_OBJECT_ALREADY_EXISTS;
            SweepLeftovers(volume);
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
        return BeforeSnapshot() ? MakeCompletedOperation(VSS_S_ASYNC_FINISHED, async)
                                : VSS_E_BAD_STATE;
    }

    HRESULT DoSnapshotSet(ComPtr<AsyncOperation>& async) override {
        if (phase_ != Phase::kSetStarted || set_.Size() == 0)
            return VSS_E_BAD_STATE;
        return GuardedCall([&] {
            ComPtr<AsyncOperation> operation;
            HRESULT hr = MakeCompletedOperation(VSS_S_ASYNC_FINISHED, operation);
            if (hr != S_OK)
                return hr;  // nothing taken yet: no snapshot without its report
            hr = set_.Take();
            setTaken_ = hr == S_OK;
            phase_ = setTaken_ ? Phase::kTaken : Phase::kFailed;
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
        if (phase_ == Phase::kCreated)
            return VSS_E_BAD_STATE;
        return GuardedCall([&] {
            // A snapshot of a set that failed is only a remnant waiting for removal.
            const SnapshotSet::Member* member = setTaken_ ? set_.FindTaken(snapshotId) : nullptr;
            if (member == nullptr)
                return VSS_E_OBJECT_NOT_FOUND;
            SnapshotProperties result;
            result.snapshotId = snapshotId;
            result.snapshotSetId = set_.Id();
            result.snapshotDeviceObject = FromUtf8(set_.DevicePath(*member));
            result.originalVolumeName = member->volumeName;
            *properties = std::move(result);
            return S_OK;
        });
    }

    HRESULT BackupComplete(ComPtr<AsyncOperation>& async) override {
        if (phase_ != Phase::kTaken)
            return VSS_E_BAD_STATE;
        const HRESULT hr = MakeCompletedOperation(VSS_S_ASYNC_FINISHED, async);
        if (hr == S_OK)
            phase_ = Phase::kCompleted;
        return hr;
    }

    HRESULT AbortBackup() override {
        if (phase_ == Phase::kCreated)
            return VSS_E_BAD_STATE;
        phase_ = Phase::kAborted;
        return GuardedCall([&] {
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
        if (phase_ == Phase::kCreated)
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
        return phase_ == Phase::kInitialized || phase_ == Phase::kSetStarted;
    }

    // Auto-release snapshots that a process left behind when it died go before a new
    // snapshot of the file system. A sweep that fails leaves them for the next one.
    void SweepLeftovers(const BtrfsVolume& volume) {
        SweepAbandonedSnapshots(calls_, volume.mountRoot.Get(), volume.store.Get());
    }

    VolumeCalls& calls_;
    Phase phase_ = Phase::kCreated;
    bool setTaken_ = false;  // DoSnapshotSet succeeded
    LONG context_ = VSS_CTX_BACKUP;
    SnapshotSet set_;
};

}  // namespace

HRESULT CreateBtrfsBackupComponents(VolumeCalls& calls, ComPtr<BackupComponents>& components) {
    return CreateCounted<BtrfsBackupComponents>(components, calls);
}

}  // namespace quorlin
