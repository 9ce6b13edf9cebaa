#include "Commands.h"
#include "Console.h"
#include "Failure.h"
#include "Json.h"
#include "NestedVolumes.h"
#include "OwnOutput.h"
#include "SetInstant.h"
#include "SourcePath.h"
#include "StopSignal.h"
#include "StoreInCopy.h"
#include "Text.h"
#include "TreeCopy.h"

#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

namespace qtool {
namespace {

// Where the copy goes: the entry `name` in the folder `folder`.
struct Target {
    fs::path folder;
    fs::path name;
};

// The entry of SOURCE's name inside DEST when DEST is an existing folder, else DEST
// itself.
Target TargetFor(const fs::path& source, const std::string& destination) {
    fs::path target = PathFromUtf8(destination);
    while (target.has_relative_path() && !target.has_filename())
        target = target.parent_path();  // "backup/" is the folder "backup"
    if (fs::is_directory(target) && source.has_filename())
        return {target, source.filename()};
    if (!target.has_filename())
        return {target, fs::path()};  // a root: the copy merges into it
    fs::path folder = target.parent_path();
    return {folder.empty() ? fs::path(".") : folder, target.filename()};
}

}  // namespace

int RunCopy(const Invocation& invocation) {
    const OwnOutput output = OwnOutputFor(invocation.outputFd, false);
    fs::path source = PathFromUtf8(ResolveSourcePath(invocation.paths[0]));
    Target target = TargetFor(source, invocation.paths[1]);
    fs::path destination = target.folder / target.name;
    if (fs::exists(destination) && fs::equivalent(source, destination))
        throw Failure(kExitUsage,
                      "the source and the destination are the same; name another "
                      "destination");
    // Without the writers the library takes one volume.
    std::vector<std::string> volumes = {Utf8FromPath(source)};
    std::vector<NestedVolume> nested =
        NestedVolumesToJoin(volumes, invocation.oneFileSystem || !invocation.options.withWriters);
    for (const NestedVolume& volume : nested)
        volumes.push_back(volume.path);
    CheckVolumeCount(volumes, 1);

    InstallStopHandlers();
    Backup backup(invocation.options);
    std::vector<std::string> snapshots = StartWithNested(backup, volumes, nested, 1);
    if (invocation.json) {
        std::vector<std::string> given = volumes;
        given[0] = invocation.paths[0];
        WriteOwnOutput(output,
                       SuccessJson(backup.SetId(), JsonPaths(given, volumes, snapshots),
                                   backup.Instant() ? InstantJson(*backup.Instant()) : "null") +
                           "\n",
                       "the snapshot paths");
    }
    // The store is looked for once the set is taken: on a volume that had none, taking the
    // set made it, and the snapshot shows it.
    TreeCopy copy(PathFromUtf8(snapshots[0]), source, StoreInCopy(source), StopRequested);
    for (size_t i = 1; i < volumes.size(); ++i) {
        fs::path place = PathFromUtf8(volumes[i]);
        copy.Graft(place, PathFromUtf8(snapshots[i]), StoreInCopy(place));
    }
    // The size is counted for the progress bar only: it costs a walk of the tree.
    bool shown = IsTerminal(stderr);
    TreeSize size = shown ? copy.Measure() : TreeSize();
    Progress progress(shown, size.bytes, size.files);
    std::size_t lost = copy.CopyTo(
        target.folder, target.name, progress,
        [&progress](const std::string& sentence) { progress.Say("quorlin: " + sentence + "."); });
    progress.Finish();
    backup.Complete();
    if (StopRequested())
        return kExitInterrupted;
    if (lost > 0)
        throw Failure(kExitNotKept, "the copy is complete, but " + std::to_string(lost) +
                                        (lost == 1 ? " thing" : " things") +
                                        " could not be kept as in the source (named above)");
    return kExitSuccess;
}

}  // namespace qtool
