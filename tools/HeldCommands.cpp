#include "Architecture.h"
#include "Com.h"
#include "Commands.h"
#include "Console.h"
#include "Held.h"
#include "SourcePath.h"

#include <cstdio>
#include <ctime>

namespace qtool {

int RunList(const Invocation& invocation) {
    CheckArchitectureServed("list the held snapshots");
    ComScope com;
    const std::string path =
        invocation.paths.empty() ? std::string() : ResolveSourcePath(invocation.paths[0]);
    std::vector<HeldEntry> entries = ReadHeld(path);
    const std::vector<HeldEntry> deleted = HeldAfterDeletion(path);
    entries.insert(entries.end(), deleted.begin(), deleted.end());
    if (IsTerminal(stdout))
        std::printf("%s\n", kHeldHeader);
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    for (const HeldEntry& entry : entries)
        std::printf("%s\n", HeldLine(entry, now).c_str());
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        throw Failure(kExitFailed, "could not write the list to standard output");
    return kExitSuccess;
}

int RunDelete(const Invocation& invocation) {
    CheckArchitectureServed("delete the held snapshots");
    ComScope com;
    const std::string path =
        invocation.paths.empty() ? std::string() : ResolveSourcePath(invocation.paths[0]);
    const long deleted = DeleteHeld(invocation.setId, path);
    std::printf("quorlin: deleted %ld snapshot%s.\n", deleted, deleted == 1 ? "" : "s");
    std::fflush(stdout);
    return kExitSuccess;
}

}  // namespace qtool
