#include "ChildProcess.h"
#include "Commands.h"
#include "Console.h"
#include "Failure.h"
#include "Placeholders.h"
#include "SourcePath.h"
#include "StopSignal.h"

#include <cstdio>

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
        std::printf("%s\t%s\n", invocation.paths[i].c_str(), snapshotPaths[i].c_str());
    std::fflush(stdout);

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
