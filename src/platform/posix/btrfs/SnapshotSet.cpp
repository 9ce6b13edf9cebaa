#include "platform/posix/btrfs/SnapshotSet.h"

#include "platform/posix/btrfs/ErrnoResult.h"
#include "platform/posix/btrfs/Guid.h"
#include "platform/posix/btrfs/SimultaneousSnapshots.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <unistd.h>

namespace quorlin {

namespace {

// A set that comes out split is taken again, at most so many times in all, and not once
// this long has passed since the first try (the writers hold their applications meanwhile).
const int kMostTries = 4;
const std::chrono::milliseconds kRetryBudget(2000);

}  // namespace

void SnapshotSet::Start(const VSS_ID& id, LONG context) {
    id_ = id;
    context_ = context;
}

bool SnapshotSet::Contains(const BtrfsVolume& volume) const {
    return std::any_of(members_.begin(), members_.end(), [&](const Member& member) {
        return member.volume.device == volume.device && member.volume.inode == volume.inode;
    });
}

bool SnapshotSet::HasFileSystem(const std::array<uint8_t, 16>& fileSystem) const {
    return std::any_of(mounts_.begin(), mounts_.end(),
                       [&](const Mount& mount) { return mount.fileSystem == fileSystem; });
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
    const auto same = std::find_if(mounts_.begin(), mounts_.end(), [&](const Mount& mount) {
        return mount.point == volume.mountPoint && mount.fileSystem == volume.fileSystem;
    });
    member.mount = static_cast<size_t>(same - mounts_.begin());
    if (same == mounts_.end()) {
        Mount mount;
        mount.point = volume.mountPoint;
        mount.root = std::move(volume.mountRoot);
        mount.store = std::move(volume.store);
        mount.storeName = volume.storeName;
        mount.fileSystem = volume.fileSystem;
        mounts_.push_back(std::move(mount));
    }
    volume.mountRoot.Reset();  // one descriptor per mount, however many volumes it holds
    volume.store.Reset();
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
    const Mount& mount = mounts_[member.mount];
    return SnapshotPath(mount.point, mount.storeName, member.snapshotId);
}

int SnapshotSet::Prepare(Member& member) {
    Mount& mount = mounts_[member.mount];
    int error = mount.store.Valid()
                    ? 0
                    : OpenOrCreateStore(calls_, mount.root.Get(), mount.store, mount.storeName);
    if (error == 0)
        error = calls_.CreateRecord(mount.store.Get(), GuidText(member.snapshotId).c_str(),
                                    RecordFileName(RecordOf(member)).c_str(), member.folder);
    member.folderMade = member.recorded = error == 0;
    return error;
}

size_t SnapshotSet::SnapshotsOn(const std::array<uint8_t, 16>& fileSystem) const {
    return static_cast<size_t>(
        std::count_if(members_.begin(), members_.end(),
                      [&](const Member& m) { return mounts_[m.mount].fileSystem == fileSystem; }));
}

int SnapshotSet::TakeAll(double& window, std::string& failedPath) {
    std::vector<SnapshotOrder> orders(members_.size());
    for (size_t i = 0; i < members_.size(); ++i) {
        orders[i].source = members_[i].volume.root.Get();
        orders[i].folder = members_[i].folder.Get();
        orders[i].name = GuidText(members_[i].snapshotId);
    }
    // Only a file system with several snapshots of the set needs them to meet in one
    // transaction; a snapshot alone is one whatever it joins.
    std::vector<int> fileSystems;
    for (size_t i = 0; i < mounts_.size(); ++i) {
        const auto& id = mounts_[i].fileSystem;
        const bool first = std::none_of(mounts_.begin(), mounts_.begin() + static_cast<long>(i),
                                        [&](const Mount& m) { return m.fileSystem == id; });
        if (first && SnapshotsOn(id) > 1)
            fileSystems.push_back(mounts_[i].root.Get());
    }
    window = TakeAtOnce(calls_, orders, fileSystems);
    int firstError = 0;
    for (size_t i = 0; i < members_.size(); ++i) {
        members_[i].taken = orders[i].error == 0;
        if (orders[i].error != 0 && firstError == 0) {
            firstError = orders[i].error;
            failedPath = members_[i].volume.path;
        }
    }
    return firstError;
}

int SnapshotSet::CountWhole(int& fileSystems) {
    std::vector<std::array<uint8_t, 16>> seen;
    std::vector<std::vector<uint64_t>> generations;
    for (Member& member : members_) {
        const auto& id = mounts_[member.mount].fileSystem;
        const size_t group =
            static_cast<size_t>(std::find(seen.begin(), seen.end(), id) - seen.begin());
        if (group == seen.size()) {
            seen.push_back(id);
            generations.emplace_back();
        }
        if (SnapshotsOn(id) == 1)
            continue;  // one snapshot is one transaction
        uint64_t generation = 0;
        // A generation that cannot be read counts as a transaction of its own.
        if (calls_.CreationGeneration(member.folder.Get(), GuidText(member.snapshotId).c_str(),
                                      generation) != 0)
            generation = UINT64_MAX - generations[group].size();
        generations[group].push_back(generation);
    }
    fileSystems = static_cast<int>(seen.size());
    return static_cast<int>(
        std::count_if(generations.begin(), generations.end(), [](const std::vector<uint64_t>& g) {
            return std::all_of(g.begin(), g.end(), [&](uint64_t x) { return x == g.front(); });
        }));
}

HRESULT SnapshotSet::Take(const Cancellation* cancel) {
    ownerPid_ = static_cast<long>(::getpid());
    instant_ = SetInstant();
    for (Member& member : members_) {
        const int error = Prepare(member);
        if (error != 0) {
            const HRESULT hr =
                ReportErrno("preparing the snapshot store on", mounts_[member.mount].point, error);
            RollBack();
            return hr;
        }
    }
    const auto first = std::chrono::steady_clock::now();
    for (;;) {
        ++instant_.tries;
        std::string failedPath;
        int error = TakeAll(instant_.windowMilliseconds, failedPath);
        if (error != 0) {
            const HRESULT hr = ReportErrno("snapshotting", failedPath, error);
            RollBack();
            return hr;
        }
        instant_.oneTransaction = CountWhole(instant_.fileSystems);
        if (instant_.oneTransaction == instant_.fileSystems || instant_.tries >= kMostTries ||
            std::chrono::steady_clock::now() - first > kRetryBudget ||
            (cancel != nullptr && cancel->Fired()))
            break;
        // Split: what was taken goes (its folders and records stay), and the set again.
        for (Member& member : members_) {
            error =
                calls_.DestroySnapshot(member.folder.Get(), GuidText(member.snapshotId).c_str());
            if (error != 0) {
                const HRESULT hr =
                    ReportErrno("taking again the set of", member.volume.path, error);
                RollBack();
                return hr;
            }
            member.taken = false;
        }
    }
    instant_.wholeSet = instant_.fileSystems == 1 && instant_.oneTransaction == 1;
    for (Member& member : members_)
        member.volume.root.Reset();  // not needed any more: descriptors are few
    return S_OK;
}

int SnapshotSet::Discard(Member& member) {
    const std::string name = GuidText(member.snapshotId);
    int error = 0;
    if (member.taken) {
        error = calls_.DestroySnapshot(member.folder.Get(), name.c_str());
        if (error == ENOENT)
            error = 0;
        member.taken = error != 0;
    }
    if (!member.taken && member.recorded) {  // never a snapshot without its record
        error = calls_.RemoveFile(member.folder.Get(), RecordFileName(RecordOf(member)).c_str());
        if (error == ENOENT)
            error = 0;
        member.recorded = error != 0;
    }
    if (!member.taken && !member.recorded && member.folderMade) {
        const int folderError =
            calls_.RemoveFolder(mounts_[member.mount].store.Get(), name.c_str());
        member.folderMade = folderError != 0 && folderError != ENOENT;
    }
    if (!member.folderMade)
        member.folder.Reset();
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
    std::vector<std::array<uint8_t, 16>> committed;
    for (Member* member : touched) {
        const Mount& mount = mounts_[member->mount];
        if (std::find(committed.begin(), committed.end(), mount.fileSystem) != committed.end())
            continue;
        committed.push_back(mount.fileSystem);
        const int error = calls_.Commit(mount.root.Get());
        if (error != 0 && firstError == 0) {
            firstError = error;
            failedMount = mount.point;
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
