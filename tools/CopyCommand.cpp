#include "Commands.h"
#include "Console.h"
#include "Failure.h"
#include "SourcePath.h"
#include "StopSignal.h"
#include "Text.h"
#include "TreeCopy.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace qtool {
namespace {

// DEST itself, or the entry of that name inside DEST when DEST is an existing folder.
fs::path TargetFor(const fs::path& source, const std::string& destination) {
    fs::path target = PathFromUtf8(destination);
    if (fs::is_directory(target) && !source.filename().empty())
        target /= source.filename();
    return target;
}

}  // namespace

int RunCopy(const Invocation& invocation) {
    fs::path source = PathFromUtf8(ResolveSourcePath(invocation.paths[0]));
    fs::path target = TargetFor(source, invocation.paths[1]);
    if (fs::exists(target) && fs::equivalent(source, target))
        throw Failure(kExitUsage,
                      "the source and the destination are the same; name another "
                      "destination");

    InstallStopHandlers();
    Backup backup(invocation.options);
    fs::path snapshot = PathFromUtf8(backup.Start({Utf8FromPath(source)})[0]);
    TreeSize size = MeasureTree(snapshot);
    Progress progress(IsTerminal(stderr), size.bytes, size.files);
    CopyTree(snapshot, target, progress);
    progress.Finish();
    backup.Complete();
    return StopRequested() ? kExitInterrupted : kExitSuccess;
}

}  // namespace qtool
