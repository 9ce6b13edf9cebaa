#include "TreeCopy.h"

#include "Failure.h"
#include "FileSystem.h"
#include "Text.h"

#include <map>
#include <set>
#include <vector>

namespace fs = std::filesystem;

namespace qtool {
namespace {

[[noreturn]] void Stopped() {
    throw Failure(kExitInterrupted,
                  "stopped before the copy was complete; the snapshot was deleted and the "
                  "destination holds a partial copy");
}

// `error` on the entry at `source` (its SOURCE path) or `target` (in the destination).
[[noreturn]] void CopyFailed(const CopyError& error, const fs::path& source,
                             const fs::path& target) {
    if (error.OnSide() == CopyError::kSource)
        throw Failure(kExitCopyFailed, "the copy failed: cannot " + error.Action() + " " +
                                           FieldForLine(Utf8FromPath(source)) + " (" +
                                           error.Reason() + "); try again");
    throw Failure(kExitCopyFailed, "the copy failed: cannot " + error.Action() + " " +
                                       FieldForLine(Utf8FromPath(target)) + " (" + error.Reason() +
                                       "); check that the destination is writable and has "
                                       "room, then try again");
}

// Where the walk is: the entry's SOURCE path, for the user, and its path in the
// destination.
struct Place {
    fs::path source;
    fs::path target;
    Place Child(const fs::path& name) const { return {source / name, target / name}; }
};

using Stores = std::set<fs::path>;
using Grafts = std::map<fs::path, fs::path>;

// The folder to read the entry at `path` from: `from`, or for a folder where another
// snapshot of the set is grafted, the folder that holds that snapshot's root, which then
// becomes `entry` (its name is the snapshot's). Throws CopyError.
const SourceFolder& ReadFrom(const SourceFolder& from, Entry& entry, const fs::path& path,
                             const Grafts& grafts, std::optional<SourceFolder>& grafted) {
    auto graft = entry.kind == EntryKind::kFolder ? grafts.find(path) : grafts.end();
    if (graft == grafts.end())
        return from;
    grafted.emplace(SourceFolder::OpenRoot(graft->second, entry));
    return *grafted;
}

class Walk {
public:
    // `top`: the destination folder, and `place` the copy's place in it.
    Walk(const Stores& stores, const Grafts& grafts, const std::function<bool()>& stopped,
         TargetFolder& top, const Place& place, Progress& progress, const LossReport& report)
        : stores_(stores),
          grafts_(grafts),
          stopped_(stopped),
          progress_(progress),
          report_(report),
          top_(top),
          topPlace_(place),
          open_{&top} {}

    void Copy(const SourceFolder& from, const Entry& entry, TargetFolder& to, const fs::path& name,
              const Place& place) {
        if (stopped_())
            Stopped();
        Losses losses;
        try {
            switch (entry.kind) {
                case EntryKind::kFolder: {
                    SourceFolder folder = from.Folder(entry);
                    CopyFolder(std::move(folder), to.MakeFolder(name), name, place, losses);
                    break;
                }
                case EntryKind::kFile:
                    CopyRegularFile(from, entry, to, name, place, losses);
                    progress_.AddFile();
                    break;
                case EntryKind::kLink:
                    to.CopyLink(name, from, entry, losses);
                    break;
                case EntryKind::kSpecial:
                    to.CopySpecial(name, from, entry, losses);
                    break;
                case EntryKind::kOther:
                    losses.push_back({"", "a link, junction or mount point is not copied here"});
                    break;
            }
        } catch (const EntryRefused& refused) {
            losses.push_back({"", refused.Reason()});
        } catch (const CopyError& error) {
            CopyFailed(error, place.source, place.target);
        }
        Report(losses, place);
    }

    // Puts the files that wait in place, once on the disk, and finishes their folders.
    void Commit() {
        try {
            if (held_.empty() && !top_.Waiting())
                return;
            top_.Sync();
            top_.PutInPlace();
        } catch (const CopyError& error) {
            CopyFailed(error, topPlace_.source, topPlace_.target);
        }
        for (Held& held : held_) {
            Losses losses;
            try {
                held.folder.PutInPlace();
                held.folder.Finish(held.source, losses);
            } catch (const CopyError& error) {
                CopyFailed(error, held.place.source, held.place.target);
            }
            Report(losses, held.place);
        }
        held_.clear();
    }

    std::size_t Lost() const { return lost_; }

private:
    // The first name copied of a file that has more, and where its copy is.
    struct FirstName {
        std::vector<fs::path> route;  // the folders from the top to it
        std::vector<fs::path> names;  // its names there: until put in place, and after
        FileIdentity copy;
        std::uint64_t namesLeft;
        fs::path source;
    };
    // A folder copied but for its files that wait to replace earlier copies.
    struct Held {
        TargetFolder folder;
        SourceFolder source;
        Place place;
    };
    // Folders held at most before the files that wait are put in place: each holds two
    // descriptors, and each putting in place waits for the disk once.
    static const std::size_t kMostHeld = 128;

    void Report(const Losses& losses, const Place& place) {
        for (const Loss& loss : losses) {
            ++lost_;
            report_(loss.what.empty()
                        ? "could not copy " + FieldForLine(Utf8FromPath(place.source)) + " (" +
                              loss.why + ")"
                        : "could not keep " + loss.what + " of " +
                              FieldForLine(Utf8FromPath(place.source)) + " (" + loss.why + ")");
        }
    }

    void CopyFolder(SourceFolder from, TargetFolder made, const fs::path& name, const Place& place,
                    Losses& losses) {
        route_.push_back(name);
        open_.push_back(&made);
        for (Entry entry : from.List()) {
            const fs::path name = entry.name;
            Place inner = place.Child(name);
            if (stores_.count(inner.source) != 0)
                continue;
            std::optional<SourceFolder> grafted;
            const SourceFolder* reader = &from;
            try {
                reader = &ReadFrom(from, entry, inner.source, grafts_, grafted);
            } catch (const CopyError& error) {
                CopyFailed(error, inner.source, inner.target);
            }
            Copy(*reader, entry, made, name, inner);
        }
        route_.pop_back();
        open_.pop_back();
        if (made.Waiting()) {
            held_.push_back({std::move(made), std::move(from), place});
            if (held_.size() >= kMostHeld)
                Commit();
            return;
        }
        // Last: copying into a folder changes its times.
        made.Finish(from, losses);
    }

    void CopyRegularFile(const SourceFolder& from, const Entry& entry, TargetFolder& to,
                         const fs::path& name, const Place& place, Losses& losses) {
        auto first = entry.names > 1 ? firstNames_.find(entry.identity) : firstNames_.end();
        if (first != firstNames_.end()) {
            if (AddName(first->second, to, name)) {
                if (--first->second.namesLeft == 0)
                    firstNames_.erase(first);
                return;
            }
            losses.push_back(
                {"the hard link to " + FieldForLine(Utf8FromPath(first->second.source)),
                 "the destination refused another name for the file; it was "
                 "copied again"});
        }
        TargetFolder::Copied copy = to.CopyRegularFile(
            name, from, entry,
            [this](std::uint64_t bytes) {
                if (stopped_())
                    Stopped();
                progress_.AddBytes(bytes);
            },
            losses);
        if (entry.names > 1 && first == firstNames_.end())
            firstNames_.emplace(
                entry.identity,
                FirstName{route_, {copy.name, name}, copy.identity, entry.names - 1, place.source});
    }

    // Gives `name` in `to` to the copy of `first`, found from the deepest folder open on
    // the ways to both.
    bool AddName(const FirstName& first, TargetFolder& to, const fs::path& name) {
        size_t common = 0;
        while (common < first.route.size() && common < route_.size() &&
               first.route[common] == route_[common])
            ++common;
        try {
            std::vector<TargetFolder> opened;
            opened.reserve(first.route.size() - common);
            for (size_t i = common; i < first.route.size(); ++i)
                opened.push_back(
                    (opened.empty() ? *open_[common] : opened.back()).OpenFolder(first.route[i]));
            return to.AddName(name, opened.empty() ? *open_[common] : opened.back(), first.names,
                              first.copy);
        } catch (const CopyError&) {
            return false;
        }
    }

    const Stores& stores_;
    const Grafts& grafts_;
    const std::function<bool()>& stopped_;
    Progress& progress_;
    const LossReport& report_;
    TargetFolder& top_;
    Place topPlace_;
    std::size_t lost_ = 0;
    std::map<FileIdentity, FirstName> firstNames_;
    std::vector<fs::path> route_;      // the folders from the top to the one being copied
    std::vector<TargetFolder*> open_;  // open_[i]: the folder at the first i of route_
    std::vector<Held> held_;
};

void Measure(const SourceFolder& from, const Entry& entry, const fs::path& source,
             const Stores& stores, const Grafts& grafts, const std::function<bool()>& stopped,
             std::set<FileIdentity>& counted, TreeSize& size) {
    if (stopped())
        Stopped();
    if (entry.kind == EntryKind::kFile) {
        ++size.files;
        if (entry.names == 1 || counted.insert(entry.identity).second)
            size.bytes += entry.size;
    } else if (entry.kind == EntryKind::kFolder) {
        SourceFolder folder = from.Folder(entry);
        std::vector<Entry> entries;
        try {
            entries = folder.List();
        } catch (const EntryRefused&) {
            return;  // the copy names it
        }
        for (Entry inner : entries) {
            fs::path path = source / inner.name;
            std::optional<SourceFolder> grafted;
            if (stores.count(path) == 0)
                Measure(ReadFrom(folder, inner, path, grafts, grafted), inner, path, stores, grafts,
                        stopped, counted, size);
        }
    }
}

}  // namespace

TreeCopy::TreeCopy(fs::path snapshot, fs::path source, std::optional<fs::path> store,
                   std::function<bool()> stopped)
    : snapshot_(std::move(snapshot)), source_(std::move(source)), stopped_(std::move(stopped)) {
    if (store)
        stores_.insert(source_ / *store);
}

void TreeCopy::Graft(fs::path place, fs::path snapshot, std::optional<fs::path> store) {
    if (store)
        stores_.insert(place / *store);
    grafts_[std::move(place)] = std::move(snapshot);
}

TreeSize TreeCopy::Measure() const {
    TreeSize size;
    std::set<FileIdentity> counted;
    try {
        Entry root;
        SourceFolder from = SourceFolder::OpenRoot(snapshot_, root);
        qtool::Measure(from, root, source_, stores_, grafts_, stopped_, counted, size);
    } catch (const CopyError& error) {
        CopyFailed(error, source_, source_);
    }
    return size;
}

std::size_t TreeCopy::CopyTo(const fs::path& destination, const fs::path& name, Progress& progress,
                             const LossReport& report) const {
    Entry root;
    std::optional<SourceFolder> from;
    std::optional<TargetFolder> top;
    try {
        from.emplace(SourceFolder::OpenRoot(snapshot_, root));
        top.emplace(TargetFolder::Open(destination));
    } catch (const CopyError& error) {
        CopyFailed(error, source_, destination);
    }
    Place place{source_, destination / name};
    Walk walk(stores_, grafts_, stopped_, *top, place, progress, report);
    walk.Copy(*from, root, *top, name, place);
    walk.Commit();
    try {
        top->Sync();
    } catch (const CopyError& error) {
        CopyFailed(error, source_, destination);
    }
    return walk.Lost();
}

}  // namespace qtool
