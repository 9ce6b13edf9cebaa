#include "platform/posix/btrfs/SnapshotSet.h"

#include "platform/posix/btrfs/ErrnoResult.h"
#include "platform/posix/btrfs/Guid.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace quorlin {

void SnapshotSet::Start(const VSS_ID& id, LONG context) {
    id_ = id;
    context_ = context;
}

bool SnapshotSet::Contains(const BtrfsVolume& volume) const {
    return std::any_of(members_.begin(), members_.end(), [&](const Member& member) {
        return member.volume.device == volume.device && member.volume.inode == volume.inode;
    });
}

std::vector<dev_t> SnapshotSet::Devices() const {
    std::vector<dev_t> devices;
    for (const Member& member : members_)
        devices.push_back(member.volume.device);
    return devices;
}

void SnapshotSet::Add(std::wstring volumeName, BtrfsVolume volume, const VSS_ID& snapshotId) {
    Member member;
    member.volumeName = std::move(volumeName);
    member.volume = std::move(volume);
    member.snapshotId = snapshotId;
    members_.push_back(std::move(member));
}

SnapshotRecord SnapshotSet::RecordOf(const Member& member) const {
    SnapshotRecord record;
    record.snapshotId = member.snapshotId;
    record.context = context_;
    record.setId = id_;
    record.ownerPid = ownerPid_;
    return record;
}

std::string SnapshotSet::DevicePath(const Member& member) const {
    return SnapshotPath(member.volume.mountPoint, member.snapshotId);
}

int SnapshotSet::Prepare(Member& member) {
    BtrfsVolume& volume = member.volume;
    int error =
        volume.store.Valid() ? 0 : OpenOrCreateStore(calls_, volume.mountRoot.Get(), volume.store);
    if (error == 0)
        error = calls_.CreateRecord(volume.store.Get(), RecordFileName(RecordOf(member)).c_str(),
                                    member.recordLock);
    member.recorded = error == 0;
    return error;
}

HRESULT SnapshotSet::Take() {
    ownerPid_ = static_cast<long>(::getpid());
    for (Member& member : members_) {
        const int error = Prepare(member);
        if (error != 0) {
            const HRESULT hr =
                ReportErrno("preparing the snapshot store on", member.volume.mountPoint, error);
            RollBack();
            return hr;
        }
    }
    for (Member& member : members_) {
        const int error = calls_.CreateSnapshot(member.volume.root.Get(), member.volume.store.Get(),
                                                GuidText(member.snapshotId).c_str());
        if (error != 0) {
            const HRESULT hr = ReportErrno("snapshotting", member.volume.path, error);
            RollBack();
            return hr;
        }
        member.taken = true;
    }
    return S_OK;
}

int SnapshotSet::Discard(Member& member) {
    const int store = member.volume.store.Get();
    int error = 0;
    if (member.taken) {
        error = RemoveSnapshot(calls_, store, RecordOf(member));
        if (error == 0)
            member.taken = member.recorded = false;
    } else if (member.recorded) {
        error = calls_.RemoveFile(store, RecordFileName(RecordOf(member)).c_str());
        if (error == ENOENT)
            error = 0;
        member.recorded = error != 0;
    }
    if (!member.recorded)
        member.recordLock.Reset();
    return error;
}

void SnapshotSet::RollBack() {
    std::vector<Member*> touched;
    for (Member& member : members_) {
        if (member.taken)
            touched.push_back(&member);
        Discard(member);
    }
    std::string failedMount;
    CommitFor(touched, failedMount);
}

int SnapshotSet::CommitFor(const std::vector<Member*>& touched, std::string& failedMount) {
    int firstError = 0;
    std::vector<std::string> committed;
    for (Member* member : touched) {
        const std::string& mount = member->volume.mountPoint;
        if (std::find(committed.begin(), committed.end(), mount) != committed.end())
            continue;
        committed.push_back(mount);
        const int error = calls_.Commit(member->volume.mountRoot.Get());
        if (error != 0 && firstError == 0) {
            firstError = error;
            failedMount = mount;
        }
    }
    return firstError;
}

const SnapshotSet::Member* SnapshotSet::FindTaken(const VSS_ID& snapshotId) const {
    for (const Member& member : members_)
        if (member.taken && member.snapshotId == snapshotId)
            return &member;
    return nullptr;
}

bool SnapshotSet::Delete(const VSS_ID* snapshotId, DeletionTally& tally) {
    std::vector<Member*> touched;
    for (Member& member : members_) {
        if (!member.taken || (snapshotId != nullptr && member.snapshotId != *snapshotId))
            continue;
        touched.push_back(&member);
        tally.Count(member.snapshotId, Discard(member), DevicePath(member));
    }
    std::string failedMount;
    const int error = CommitFor(touched, failedMount);
    if (error != 0 && tally.firstFailure == S_OK)
        tally.firstFailure = ReportErrno("committing the deletion on", failedMount, error);
    return !touched.empty();
}

void SnapshotSet::Release() {
    const bool automatic = IsAutoRelease(context_);
    for (Member& member : members_)
        if (automatic || !member.taken)
            Discard(member);
}

}  // namespace quorlin
