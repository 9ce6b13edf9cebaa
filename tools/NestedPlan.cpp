#include "NestedVolumes.h"

#include "Failure.h"
#include "InPlace.h"

#include <algorithm>
#include <cstdio>

namespace qtool {
namespace {

// Whether `path` is `folder` or lies below it.
bool AtOrBelow(const std::string& path, const std::string& folder) {
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            (folder.back() == '/' || path[folder.size()] == '/'));
}

std::string WhyLeftOut(const NestedItem& item) {
    switch (item.kind) {
        case NestedItem::kSubvolume:
            return "a btrfs subvolume, another volume (only the PATH's own volume is taken)";
        case NestedItem::kBtrfsMount:
            return "a btrfs volume is mounted there (only the PATH's own volume is taken)";
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
            if (plan.included.empty() || plan.included.back() != item.path)
                plan.included.push_back(item.path);
            continue;
        }
        leftOut.push_back(item.path);
        plan.warnings.push_back(item.path + " is left out: " + WhyLeftOut(item));
    }
    return plan;
}

std::vector<std::string> NestedVolumesToJoin(const std::vector<std::string>& sources,
                                             bool oneFileSystem) {
    std::vector<std::string> joined;
    for (const std::string& source : sources) {
        NestedVolumes plan = PlanNestedVolumes(source, FindNestedItems(source), oneFileSystem);
        for (const std::string& warning : plan.warnings)
            std::fprintf(stderr, "quorlin: %s.\n", warning.c_str());
        for (const std::string& volume : plan.included)
            if (std::find(sources.begin(), sources.end(), volume) == sources.end() &&
                std::find(joined.begin(), joined.end(), volume) == joined.end())
                joined.push_back(volume);
    }
    return joined;
}

void CheckNestedSnapshots(const std::vector<std::string>& volumes,
                          const std::vector<std::string>& snapshots, size_t first) {
    for (size_t i = first; i < volumes.size() && i < snapshots.size(); ++i) {
        std::string problem = FrozenViewProblem({volumes[i], snapshots[i]});
        if (!problem.empty())
            throw Failure(kExitFailed, volumes[i] + " changed while the snapshot was taken: " +
                                           problem + "; the snapshots were deleted; try again");
    }
}

}  // namespace qtool
