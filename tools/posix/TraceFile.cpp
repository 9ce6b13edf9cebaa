#include "TraceFile.h"

#include "Failure.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace qtool {
namespace {

int DescriptorOf(HANDLE handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)); }

// Creates an unnamed file in the temporary folder; -1 on failure, with errno.
int CreateUnnamedFile(const std::string& folder) {
    std::string name = folder + "/quorlin-trace-XXXXXX";
    int fd = mkostemp(&name[0], O_CLOEXEC);
    if (fd < 0)
        return -1;
    unlink(name.c_str());
    if (fd != 0)
        return fd;
    // Descriptor 0 would read as "no console" to the library.
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

}  // namespace

TraceFile::TraceFile() {
    const char* variable = std::getenv("TMPDIR");
    std::string folder = variable && *variable ? variable : "/tmp";
    int fd = CreateUnnamedFile(folder);
    if (fd < 0)
        throw Failure(kExitFailed, "could not create a temporary file in " + folder + " (" +
                                       std::strerror(errno) + "); set TMPDIR to a writable folder");
    handle_ = reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

TraceFile::~TraceFile() { close(DescriptorOf(handle_)); }

std::string TraceFile::ReadFrom(std::uint64_t offset) const {
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t n = pread(DescriptorOf(handle_), buffer, sizeof buffer,
                          static_cast<off_t>(offset + text.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return text;
        text.append(buffer, static_cast<size_t>(n));
    }
}

}  // namespace qtool
