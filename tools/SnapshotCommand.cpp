#include "ChildProcess.h"
#include "Commands.h"
#include "Console.h"
#include "Failure.h"
#include "Placeholders.h"
#include "SourcePath.h"
#include "StopSignal.h"
#include "Text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qtool {

int RunSnapshot(const Invocation& invocation) {
    CheckPlaceholders(invocation.program, invocation.paths.size());
    std::vector<std::string> sources;
    for (const std::string& path : invocation.paths)
        sources.push_back(ResolveSourcePath(path));

    InstallStopHandlers();
    Backup backup(invocation.options);
    std::vector<std::string> snapshotPaths = backup.Start(sources);
    for (size_t i = 0; i < sources.size(); ++i)
        std::printf("%s\t%s\n", FieldForLine(invocation.paths[i]).c_str(),
                    FieldForLine(snapshotPaths[i]).c_str());
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
    } else {
        status = RunCommand(ReplacePlaceholders(invocation.program, snapshotPaths),
                            SnapshotEnvironment(snapshotPaths));
    }
    backup.Complete();
    return StopRequested() ? kExitInterrupted : status;
}

}  // namespace qtool
