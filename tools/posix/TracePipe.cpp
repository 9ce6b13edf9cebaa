#include "TracePipe.h"

#include "Failure.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace qtool {
namespace {

int DescriptorOf(HANDLE handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)); }

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd)); }

// Writes all of `data` to `fd`; false when it is refused.
bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = fd >= 0 ? write(fd, data, size) : -1;
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

TracePipe::TracePipe() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        throw Failure(kExitFailed, std::string("could not create a pipe (") + std::strerror(errno) +
                                       "); try again");
    if (ends[1] == 0) {
        // Descriptor 0 would read as "no console" to the library.
        int moved = fcntl(ends[1], F_DUPFD_CLOEXEC, 3);
        int error = errno;
        close(ends[1]);
        if (moved < 0) {
            close(ends[0]);
            throw Failure(kExitFailed, std::string("could not create a pipe (") +
                                           std::strerror(error) + "); try again");
        }
        ends[1] = moved;
    }
    read_ = HandleOf(ends[0]);
    write_ = HandleOf(ends[1]);
}

TracePipe::~TracePipe() {
    CloseWriteEnd();
    close(DescriptorOf(read_));
}

bool TracePipe::Write(const char* data, std::size_t size) {
    return WriteAll(DescriptorOf(write_), data, size);
}

std::size_t TracePipe::Read(char* buffer, std::size_t size) {
    for (;;) {
        ssize_t n = read(DescriptorOf(read_), buffer, size);
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0 ? static_cast<std::size_t>(n) : 0;
    }
}

void TracePipe::CloseWriteEnd() {
    if (!writeOpen_)
        return;
    writeOpen_ = false;
    close(DescriptorOf(write_));
}

RawOutput::RawOutput(std::FILE* stream)
    : handle_(stream != nullptr ? fcntl(fileno(stream), F_DUPFD_CLOEXEC, 3) : -1) {}

RawOutput::~RawOutput() {
    if (handle_ >= 0)
        close(static_cast<int>(handle_));
}

bool RawOutput::Write(const char* data, std::size_t size) {
    return WriteAll(static_cast<int>(handle_), data, size);
}

}  // namespace qtool
