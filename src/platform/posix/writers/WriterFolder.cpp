#include "platform/posix/writers/WriterFolder.h"

#include "diag/Trace.h"
#include "platform/posix/Utf8.h"
#include "base/posix/Directory.h"
#include "base/posix/TrustedPath.h"
#include "diag/CaughtFailure.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace quorlin {

namespace {

const char kDefaultFolder[] = "/etc/quorlin/writers.d";

// A writer is read, never written, and opening it must not wait (a FIFO would).
const int kProgramFlags = O_RDONLY | O_NONBLOCK;

void TraceAt(int level, const std::string& line) {
    RunDroppingFailures([&] { Trace(FromUtf8(line), level); });
}

// Letters, digits, '_' and '-', as run-parts(8) accepts.
bool AcceptedName(const std::string& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-';
    });
}

// Why a walk to `path` failed, for a refusal line.
std::string WalkFailure(int error, const std::string& refusedAt) {
    if (error == EACCES && !refusedAt.empty())
        return refusedAt + " can be changed by users other than root";
    if (error == ELOOP && !refusedAt.empty())
        return "the way to it passes through the link " + refusedAt;
    const char* text = strerrordesc_np(error);
    return text != nullptr ? text : "errno " + std::to_string(error);
}

// Why `status` does not qualify as root's alone; empty when it does.
std::string OwnershipFailure(const struct stat& status) {
    if (status.st_uid != 0)
        return "it belongs to uid " + std::to_string(status.st_uid) + ", not root";
    if (!OnlyRootCanWrite(status))
        return "users other than root can write it";
    return std::string();
}

// The target of the link `name` in `folder` as an absolute path; empty on failure.
std::string LinkTarget(int folderFd, const std::string& folder, const std::string& name) {
    std::string target(4096, '\0');
    const ssize_t length = ::readlinkat(folderFd, name.c_str(), &target[0], target.size());
    if (length <= 0 || static_cast<size_t>(length) >= target.size())
        return std::string();
    target.resize(static_cast<size_t>(length));
    return target[0] == '/' ? target : folder + "/" + target;
}

// Opens the writer `name` of the folder, following one link; empty reason on success.
std::string OpenProgram(int folderFd, const std::string& folder, const std::string& name,
                        WriterProgram& program) {
    program.name = name;
    program.path = folder + "/" + name;
    struct stat status;
    program.file.Reset(::openat(folderFd, name.c_str(), kProgramFlags | O_NOFOLLOW | O_CLOEXEC));
    if (!program.file.Valid() && errno == ELOOP) {
        const std::string target = LinkTarget(folderFd, folder, name);
        if (target.empty())
            return "its link cannot be read";
        program.path = target;
        std::string refusedAt;
        const int error = OpenTrustedPath(target, kProgramFlags, program.file, status, refusedAt);
        if (error != 0)
            return "its link leads to " + target + ": " + WalkFailure(error, refusedAt);
    } else if (!program.file.Valid()) {
        return WalkFailure(errno, std::string());
    }
    if (::fstat(program.file.Get(), &status) != 0)
        return WalkFailure(errno, std::string());
    if (!S_ISREG(status.st_mode) || (status.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) == 0)
        return program.path + " is not an executable file";
    const std::string ownership = OwnershipFailure(status);
    if (!ownership.empty())
        return program.path == folder + "/" + name ? ownership : program.path + ": " + ownership;
    char start[2] = {};
    program.script = ::pread(program.file.Get(), start, sizeof start, 0) == 2 && start[0] == '#' &&
                     start[1] == '!';
    return std::string();
}

// Most systems have no writers folder: one look by name says so. A name that exists, or
// that cannot be looked at, takes the walk that judges it.
bool CertainlyAbsent(const std::string& folder) {
    struct stat st;
    return !folder.empty() && folder[0] == '/' &&
           ::fstatat(AT_FDCWD, folder.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
}

}  // namespace

std::string WritersFolder() {
    const char* folder = ::secure_getenv("QUORLIN_WRITERS_DIR");
    return folder != nullptr && folder[0] != '\0' ? folder : kDefaultFolder;
}

std::vector<WriterProgram> FindWriters(const std::string& folder) {
    std::vector<WriterProgram> programs;
    UniqueFd folderFd;
    struct stat status;
    std::string refusedAt;
    const int error = CertainlyAbsent(folder) ? ENOENT
                                              : OpenTrustedPath(folder, O_RDONLY | O_DIRECTORY,
                                                                folderFd, status, refusedAt);
    if (error == ENOENT) {
        TraceAt(TRACE_LEVEL_SERVICE_DETAIL, "No writers: there is no folder " + folder);
        return programs;
    }
    std::string refusal = error != 0 ? WalkFailure(error, refusedAt) : OwnershipFailure(status);
    if (!refusal.empty()) {
        TraceAt(TRACE_LEVEL_SERVICE_RESULT, "The writers folder " + folder + " is refused: " +
                                                refusal + ". No writer in it runs.");
        return programs;
    }
    std::vector<std::string> names;
    const int listed = ListDirectory(folderFd.Get(), names);
    if (listed != 0) {
        TraceAt(TRACE_LEVEL_SERVICE_RESULT, "The writers folder " + folder + " cannot be read: " +
                                                WalkFailure(listed, std::string()) + ".");
        return programs;
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (!AcceptedName(name))
            continue;
        WriterProgram program;
        refusal = OpenProgram(folderFd.Get(), folder, name, program);
        if (refusal.empty())
            programs.push_back(std::move(program));
        else
            TraceAt(TRACE_LEVEL_SERVICE_RESULT, "Writer " + folder + "/" + name + " is refused: " +
                                                    refusal + ". It does not run.");
    }
    return programs;
}

}  // namespace quorlin
