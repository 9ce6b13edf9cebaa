#include "platform/posix/btrfs/SnapshotSet.h"

#include "platform/posix/btrfs/ErrnoResult.h"
#include "platform/posix/btrfs/Guid.h"

#include <algorithm>
#include <cerrno>

namespace quorlin {

namespace {

// Attempts at preparing a member: a concurrent sweep may remove an empty store or set
// directory between its creation and the record's.
const int kPrepareAttempts = 3;

}  // namespace

void SnapshotSet::Start(const VSS_ID& id, LONG context) {
    id_ = id;
    setName_ = GuidText(id);
    context_ = context;
}

bool SnapshotSet::Contains(const BtrfsVolume& volume) const {
    return std::any_of(members_.begin(), members_.end(), [&](const Member& member) {
        return member.volume.device == volume.device && member.volume.inode == volume.inode;
    });
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
    record.owner = owner_;
    return record;
}

std::string SnapshotSet::DevicePath(const Member& member) const {
    return SnapshotPath(member.volume.mountPoint, setName_, member.snapshotId);
}

int SnapshotSet::Prepare(Member& member) {
    int error = 0;
    for (int attempt = 0; attempt < kPrepareAttempts; ++attempt) {
        error = OpenPrivateDirectory(calls_, member.volume.mountRoot.Get(), kStoreDirectoryName,
                                     true, member.store);
        if (error == 0)
            error = OpenPrivateDirectory(calls_, member.store.Get(), setName_, true, member.set);
        if (error == 0)
            error =
                calls_.CreateEmptyFile(member.set.Get(), RecordFileName(RecordOf(member)).c_str());
        if (error != ENOENT)
            break;
    }
    member.recorded = error == 0;
    return error;
}

HRESULT SnapshotSet::Take() {
    int error = QueryProcessIdentity(0, owner_);
    if (error != 0)
        return ReportErrno("identifying", "/proc/self", error);
    for (Member& member : members_) {
        error = Prepare(member);
        if (error != 0) {
            const HRESULT hr =
                ReportErrno("preparing the snapshot store on", member.volume.mountPoint, error);
            RollBack();
            return hr;
        }
    }
    for (Member& member : members_) {
        error = calls_.CreateSnapshot(member.volume.root.Get(), member.set.Get(),
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
    int error = 0;
    if (member.taken) {
        error = RemoveSnapshot(calls_, member.set.Get(), RecordOf(member));
        if (error == 0)
            member.taken = member.recorded = false;
    } else if (member.recorded) {
        error = calls_.RemoveFile(member.set.Get(), RecordFileName(RecordOf(member)).c_str());
        if (error == ENOENT)
            error = 0;
        member.recorded = error != 0;
    }
    return error;
}

void SnapshotSet::RollBack() {
    std::vector<Member*> touched;
    for (Member& member : members_) {
        if (member.taken)
            touched.push_back(&member);
        Discard(member);
        RemoveEmptyDirectories(member);
    }
    std::string failedMount;
    CommitFor(touched, failedMount);
}

void SnapshotSet::RemoveEmptyDirectories(Member& member) {
    if (member.store.Valid())
        RemoveDirectoryIfEmpty(calls_, member.store.Get(), setName_);
    RemoveDirectoryIfEmpty(calls_, member.volume.mountRoot.Get(), kStoreDirectoryName);
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
    for (Member* member : touched)
        RemoveEmptyDirectories(*member);
    std::string failedMount;
    const int error = CommitFor(touched, failedMount);
    if (error != 0 && tally.firstFailure == S_OK)
        tally.firstFailure = ReportErrno("committing the deletion on", failedMount, error);
    return !touched.empty();
}

void SnapshotSet::Release() {
    const bool automatic = IsAutoRelease(context_);
    for (Member& member : members_) {
        if (automatic || !member.taken)
            Discard(member);
        RemoveEmptyDirectories(member);
    }
}

}  // namespace quorlin
