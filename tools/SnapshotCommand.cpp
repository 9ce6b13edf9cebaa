#include "ChildProcess.h"
#include "Commands.h"
#include "Console.h"
#include "Failure.h"
#include "InPlace.h"
#include "Json.h"
#include "NestedVolumes.h"
#include "OwnOutput.h"
#include "Placeholders.h"
#include "SetInstant.h"
#include "SourcePath.h"
#include "StopSignal.h"
#include "Text.h"

#include <algorithm>
#include <cstdio>

namespace qtool {

int RunSnapshot(const Invocation& invocation) {
    if (invocation.inPlace)
        CheckInPlaceSupported();
    CheckPlaceholders(invocation.program, invocation.paths.size());
    const bool commandRuns = !invocation.program.empty();
    const OwnOutput output = OwnOutputFor(invocation.outputFd, commandRuns);
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
    std::vector<std::string> volumeSnapshots;
    {
        StandardOutputAside aside(commandRuns);
        volumeSnapshots = StartWithNested(backup, volumes, nested, sources.size());
    }
    std::vector<std::string> snapshotPaths(volumeSnapshots.begin(),
                                           volumeSnapshots.begin() + sources.size());
    // The PATHs as given, then the nested volumes that joined the set.
    std::vector<std::string> given = volumes;
    std::copy(invocation.paths.begin(), invocation.paths.end(), given.begin());
    std::string answer;
    if (invocation.json)
        answer = SuccessJson(backup.SetId(), JsonPaths(given, volumes, volumeSnapshots),
                             backup.Instant() ? InstantJson(*backup.Instant()) : "null") +
                 "\n";
    for (size_t i = 0; i < volumes.size() && !invocation.json; ++i)
        answer += FieldForLine(given[i]) + "\t" + FieldForLine(volumeSnapshots[i]) + "\n";
    // Nothing is run on paths that their reader could not get (OwnOutput.h); the backup
    // completes as quorlin ends.
    WriteOwnOutput(output, answer, "the snapshot paths");

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
                            SnapshotEnvironment(volumes, volumes), kSnapshotVariablePrefixes);
    } else {
        status =
            RunCommand(ReplacePlaceholders(invocation.program, snapshotPaths),
                       SnapshotEnvironment(volumes, volumeSnapshots), kSnapshotVariablePrefixes);
    }
    {
        StandardOutputAside aside(commandRuns);
        backup.Complete();
    }
    return StopRequested() ? kExitInterrupted : status;
}

}  // namespace qtool
