// The requester seam: the operations of the VSS requester interface that the
// workflows use, with the same names, arguments and HRESULT results. On Windows
// an adapter forwards them to IVssBackupComponents; on Linux the btrfs snapshot
// service implements them; tests script them.
#ifndef QUORLIN_PLATFORM_REQUESTER_H
#define QUORLIN_PLATFORM_REQUESTER_H

#include "QuorlinComPtr.h"
#include "QuorlinTypes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quorlin {

// Counted references: a new object starts with one reference owned by its creator.
class Counted {
public:
    virtual unsigned long AddRef() = 0;
    virtual unsigned long Release() = 0;

protected:
    virtual ~Counted() = default;
};

// An asynchronous operation (IVssAsync).
class AsyncOperation : public Counted {
public:
    // Blocks until the operation has ended or `milliseconds` have passed (INFINITE: no
    // limit); S_OK either way, QueryStatus then tells which. (The Windows adapter polls
    // for a limited wait: VSS before Vista accepts only INFINITE.)
    virtual HRESULT Wait(DWORD milliseconds) = 0;
    // Writes the operation's status (VSS_S_ASYNC_FINISHED, VSS_S_ASYNC_CANCELLED,
    // VSS_S_ASYNC_PENDING or a failure code) into `status`. `reserved` must be null.
    virtual HRESULT QueryStatus(HRESULT* status, int* reserved) = 0;
    // Stops an operation that has not ended; its status becomes VSS_S_ASYNC_CANCELLED.
    // S_OK when it was stopped, VSS_S_ASYNC_FINISHED when it had already ended,
    // VSS_S_ASYNC_CANCELLED when it had already been cancelled.
    virtual HRESULT Cancel() = 0;
};

// What the workflows read of a snapshot's properties (VSS_SNAPSHOT_PROP). The
// adapter copies them out and frees the platform's record at once.
struct SnapshotProperties {
    VSS_ID snapshotId = GUID_NULL;
    VSS_ID snapshotSetId = GUID_NULL;
    std::wstring
        snapshotDeviceObject;  // name under which the snapshot reads, no trailing separator
    std::wstring originalVolumeName;
    LONG attributes = 0;            // VSS_VOLSNAP_ATTR_* (its context among them)
    int64_t creationTimestamp = 0;  // VSS_TIMESTAMP: 100 ns units since 1601 (UTC)
};

// What a snapshot set that was taken came out as: how many instants it holds. VSS takes its
// whole set at one instant; the btrfs service takes the snapshots of each file system in
// one transaction (one instant), and each file system at its own.
struct SetInstant {
    int fileSystems = 0;            // the file systems (on Windows: volumes) of the set's snapshots
    int oneTransaction = 0;         // of them, how many hold all their snapshots from one instant
    bool wholeSet = false;          // the service took the whole set at one instant
    double windowMilliseconds = 0;  // from the first snapshot's start to the last one's end
    int tries = 0;  // how often the service took the set (1: the first came out whole)
};

// The components object (IVssBackupComponents).
class BackupComponents : public Counted {
public:
    virtual HRESULT InitializeForBackup(const wchar_t* xml) = 0;
    virtual HRESULT SetContext(LONG context) = 0;
    virtual HRESULT GatherWriterMetadata(ComPtr<AsyncOperation>& async) = 0;
    virtual HRESULT SetBackupState(bool selectComponents, bool bootableSystemState,
                                   VSS_BACKUP_TYPE backupType, bool partialFileSupport) = 0;
    virtual HRESULT StartSnapshotSet(VSS_ID* snapshotSetId) = 0;
    virtual HRESULT AddToSnapshotSet(const wchar_t* volumeName, const VSS_ID& providerId,
                                     VSS_ID* snapshotId) = 0;
    virtual HRESULT PrepareForBackup(ComPtr<AsyncOperation>& async) = 0;
    virtual HRESULT DoSnapshotSet(ComPtr<AsyncOperation>& async) = 0;
    virtual HRESULT GetSnapshotProperties(const VSS_ID& snapshotId,
                                          SnapshotProperties* properties) = 0;
    virtual HRESULT BackupComplete(ComPtr<AsyncOperation>& async) = 0;
    virtual HRESULT AbortBackup() = 0;
    virtual HRESULT DeleteSnapshots(const VSS_ID& sourceObjectId, VSS_OBJECT_TYPE sourceObjectType,
                                    bool forceDelete, LONG* deletedSnapshots,
                                    VSS_ID* nondeletedSnapshotId) = 0;
    // Query(GUID_NULL, VSS_OBJECT_NONE, VSS_OBJECT_SNAPSHOT): the properties of every
    // snapshot of the object's context, appended to `snapshots`. E_NOTIMPL where the
    // service has no such query.
    virtual HRESULT QuerySnapshots(std::vector<SnapshotProperties>& snapshots) {
        (void)snapshots;
        return E_NOTIMPL;
    }
    // After DoSnapshotSet has succeeded: what the set came out as. VSS_E_BAD_STATE before;
    // E_NOTIMPL where the service cannot tell.
    virtual HRESULT QuerySetInstant(SetInstant& instant) {
        (void)instant;
        return E_NOTIMPL;
    }
};

using BackupComponentsFactory = std::function<HRESULT(ComPtr<BackupComponents>&)>;

// Creates a new components object into `components` (releasing what it held).
// Goes through the replaceable factory, else the platform's requester.
HRESULT CreateVssBackupComponents(ComPtr<BackupComponents>& components);

// Replaces the factory; an empty one restores the platform's. Returns the previous one.
BackupComponentsFactory SetBackupComponentsFactory(BackupComponentsFactory factory);

// The platform's own requester (src/platform/<platform>/).
HRESULT CreatePlatformBackupComponents(ComPtr<BackupComponents>& components);

}  // namespace quorlin

#endif  // QUORLIN_PLATFORM_REQUESTER_H
