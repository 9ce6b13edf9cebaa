#include "NestedVolumes.h"

#include "Diagnosis.h"
#include "Failure.h"
#include "SourcePath.h"
#include "Text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qtool {
namespace {

std::string WhyLeftOut(const NestedItem& item) {
    switch (item.kind) {
        case NestedItem::kSubvolume:
            return "a btrfs subvolume, another volume (only the PATH's own volume is taken)";
        case NestedItem::kBtrfsMount:
            return "a btrfs volume is mounted there (only the PATH's own volume is taken)";
        case NestedItem::kReadOnly:
            return "a read-only btrfs subvolume (a snapshot, already frozen), which the view "
                   "and the copy show as an empty folder";
        case NestedItem::kVanished:
            return "the btrfs subvolume there moved or vanished while quorlin looked at it";
        case NestedItem::kUnopened:
            return std::string("the btrfs subvolume there could not be opened (") +
                   std::strerror(item.error) + ")";
        case NestedItem::kFolderBind:
            return "a folder from elsewhere is bound there, which the snapshot does not hold";
        case NestedItem::kOtherMount:
            break;
    }
    return "a " + item.fileSystem +
           " file system is mounted there, which the snapshot does "
           "not hold";
}

}  // namespace

NestedVolumes PlanNestedVolumes(const std::string& source, std::vector<NestedItem> items,
                                bool oneFileSystem) {
    // A parent's path is a prefix of its children's, so it sorts first.
    std::sort(items.begin(), items.end(),
              [](const NestedItem& a, const NestedItem& b) { return a.path < b.path; });
    NestedVolumes plan;
    std::vector<std::string> leftOut;
    for (const NestedItem& item : items) {
        if (item.path == source || !AtOrBelow(item.path, source))
            continue;
        bool hidden = std::any_of(leftOut.begin(), leftOut.end(), [&](const std::string& out) {
            return AtOrBelow(item.path, out);
        });
        if (hidden)
            continue;
        bool volume = item.kind == NestedItem::kSubvolume || item.kind == NestedItem::kBtrfsMount;
        if (volume && !oneFileSystem) {
            if (plan.included.empty() || plan.included.back().path != item.path)
                plan.included.push_back(
                    {item.path, item.identity, item.kind == NestedItem::kBtrfsMount});
            continue;
        }
        leftOut.push_back(item.path);
        plan.warnings.push_back(FieldForLine(item.path) + " is left out: " + WhyLeftOut(item));
    }
    return plan;
}

std::vector<NestedVolume> NestedVolumesToJoin(const std::vector<std::string>& sources,
                                              bool oneFileSystem) {
    std::vector<NestedVolume> joined;
    auto known = [&](const std::string& path) {
        return std::find(sources.begin(), sources.end(), path) != sources.end() ||
               std::any_of(joined.begin(), joined.end(),
                           [&](const NestedVolume& volume) { return volume.path == path; });
    };
    for (const std::string& source : sources) {
        NestedVolumes plan = PlanNestedVolumes(source, FindNestedItems(source), oneFileSystem);
        for (const std::string& warning : plan.warnings)
            std::fprintf(stderr, "quorlin: %s.\n", warning.c_str());
        for (const NestedVolume& volume : plan.included)
            if (!known(volume.path))
                joined.push_back(volume);
    }
    return joined;
}

namespace {

// How the library fails a set whose nested volume moved while it was taken: its path names
// no volume, or the volume of another path. How often such a set is taken.
const unsigned kVolumeNotFound = 0x80042308;  // VSS_E_OBJECT_NOT_FOUND
const unsigned kVolumeTwice = 0x8004230D;     // VSS_E_OBJECT_ALREADY_EXISTS
const unsigned kPathGone = 0x80070002;        // the library refused a path that is not there
const int kMovedTries = 3;

void LeaveOutUnsoundSnapshots(std::vector<std::string>& volumes,
                              std::vector<std::string>& snapshots,
                              std::vector<NestedVolume>& nested, size_t first) {
    std::vector<std::string> leftOut;
    for (size_t i = first; i < volumes.size() && i < snapshots.size();) {
        const NestedVolume& volume = nested[i - first];
        // Its place in the snapshot of the nearest volume that holds it.
        size_t holder = i;
        for (size_t j = 0; j < i; ++j)
            if (volumes[j] != volume.path && AtOrBelow(volume.path, volumes[j]) &&
                (holder == i || volumes[j].size() > volumes[holder].size()))
                holder = j;
        bool hidden = std::any_of(leftOut.begin(), leftOut.end(), [&](const std::string& out) {
            return AtOrBelow(volume.path, out);
        });
        std::string problem;
        if (!hidden) {
            std::string place;
            if (holder != i) {
                place = snapshots[holder];
                if (!place.empty() && place.back() == '/')
                    place.pop_back();
                place += volume.path.substr(volumes[holder] == "/" ? 0 : volumes[holder].size());
            }
            problem = NestedSnapshotProblem(snapshots[i], volume.identity, place, volume.mounted);
        }
        if (!hidden && problem.empty()) {
            ++i;
            continue;
        }
        if (!hidden)
            std::fprintf(stderr, "quorlin: %s is left out: %s.\n",
                         FieldForLine(volume.path).c_str(), problem.c_str());
        leftOut.push_back(volume.path);
        volumes.erase(volumes.begin() + static_cast<std::ptrdiff_t>(i));
        snapshots.erase(snapshots.begin() + static_cast<std::ptrdiff_t>(i));
        nested.erase(nested.begin() + static_cast<std::ptrdiff_t>(i - first));
    }
}

}  // namespace

std::vector<std::string> StartWithNested(Backup& backup, std::vector<std::string>& volumes,
                                         std::vector<NestedVolume>& nested, size_t first) {
    std::vector<std::string> snapshots;
    for (int tries = 1;; ++tries) {
        try {
            snapshots = backup.Start(volumes);
            break;
        } catch (const Failure& failure) {
            bool leftOut = false;
            for (size_t i = 0; i < nested.size();) {
                if (!NestedVolumeMoved(nested[i])) {
                    ++i;
                    continue;
                }
                std::fprintf(stderr,
                             "quorlin: %s is left out: it moved or vanished while the snapshot "
                             "was taken.\n",
                             FieldForLine(nested[i].path).c_str());
                volumes.erase(volumes.begin() + static_cast<std::ptrdiff_t>(first + i));
                nested.erase(nested.begin() + static_cast<std::ptrdiff_t>(i));
                leftOut = true;
            }
            // A volume that moved away and back meanwhile fails a set as one that is gone does.
            const unsigned long code = failure.Code();
            bool moving = !nested.empty() && tries < kMovedTries &&
                          (code == kVolumeNotFound || code == kVolumeTwice || code == kPathGone);
            if (!leftOut && !moving)
                throw;
        }
    }
    LeaveOutUnsoundSnapshots(volumes, snapshots, nested, first);
    return snapshots;
}

}  // namespace qtool
