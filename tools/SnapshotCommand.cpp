#include "ChildProcess.h"
#include "Commands.h"
#include "Console.h"
#include "Failure.h"
#include "InPlace.h"
#include "Json.h"
#include "NestedVolumes.h"
#include "Placeholders.h"
#include "SetInstant.h"
#include "SourcePath.h"
#include "StopSignal.h"
#include "Text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qtool {

int RunSnapshot(const Invocation& invocation) {
    if (invocation.inPlace)
        CheckInPlaceSupported();
    CheckPlaceholders(invocation.program, invocation.paths.size());
    std::vector<std::string> sources;
    for (const std::string& path : invocation.paths)
        sources.push_back(ResolveSourcePath(path));
    // Without the writers the library takes one volume.
    std::vector<NestedVolume> nested =
        NestedVolumesToJoin(sources, invocation.oneFileSystem || !invocation.options.withWriters);
    std::vector<std::string> volumes = sources;
    for (const NestedVolume& volume : nested)
        volumes.push_back(volume.path);
    CheckVolumeCount(volumes, sources.size());

    InstallStopHandlers();
    Backup backup(invocation.options);
    std::vector<std::string> volumeSnapshots =
        StartWithNested(backup, volumes, nested, sources.size());
    std::vector<std::string> snapshotPaths(volumeSnapshots.begin(),
                                           volumeSnapshots.begin() + sources.size());
    // The PATHs as given, then the nested volumes that joined the set.
    std::vector<std::string> given = volumes;
    std::copy(invocation.paths.begin(), invocation.paths.end(), given.begin());
    if (invocation.json)
        std::printf("%s\n", SuccessJson(backup.SetId(), JsonPaths(given, volumes, volumeSnapshots),
                                        backup.Instant() ? InstantJson(*backup.Instant()) : "null")
                                .c_str());
    for (size_t i = 0; i < volumes.size() && !invocation.json; ++i)
        std::printf("%s\t%s\n", FieldForLine(given[i]).c_str(),
                    FieldForLine(volumeSnapshots[i]).c_str());
    // Nothing is run on paths that no one could read; the backup completes as quorlin ends.
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        throw Failure(kExitFailed, std::string("could not write the snapshot paths to standard "
                                               "output (") +
                                       std::strerror(errno) +
                                       "); the snapshots were deleted; check where the output "
                                       "goes");

    int status = kExitSuccess;
    if (StopRequested()) {
        // Stopped while the snapshot was being taken: release it at once.
    } else if (invocation.program.empty()) {
        if (IsTerminal(stdin))
            std::fprintf(stderr, "quorlin: holding the snapshot; press Enter to release it.\n");
        WaitForEnterOrStop();
    } else if (invocation.inPlace) {
        // The snapshots show at the original places: {} is the PATH itself.
        std::vector<std::string> origins(sources.size());
        for (const NestedVolume& volume : nested)
            origins.push_back(volume.identity);
        std::vector<Bind> binds = PlanBinds(volumes, volumeSnapshots, origins);
        status = RunCommand(InPlaceCommand(binds, ReplacePlaceholders(invocation.program, sources)),
                            SnapshotEnvironment(sources));
    } else {
        status = RunCommand(ReplacePlaceholders(invocation.program, snapshotPaths),
                            SnapshotEnvironment(snapshotPaths));
    }
    backup.Complete();
    return StopRequested() ? kExitInterrupted : status;
}

}  // namespace qtool
