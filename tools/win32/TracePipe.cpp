#include "TracePipe.h"

#include "Failure.h"

#include <io.h>

namespace qtool {
namespace {

// Writes all of `data` to `handle`; false when it is refused.
bool WriteAll(HANDLE handle, const char* data, std::size_t size) {
    while (size > 0) {
        DWORD n = 0;
        if (handle == nullptr || !WriteFile(handle, data, static_cast<DWORD>(size), &n, nullptr) ||
            n == 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

}  // namespace

TracePipe::TracePipe() {
    // Without security attributes, neither handle is inheritable.
    if (!CreatePipe(&read_, &write_, nullptr, 0))
        throw Failure(kExitFailed, "could not create a pipe; try again");
}

TracePipe::~TracePipe() {
    CloseWriteEnd();
    CloseHandle(read_);
}

bool TracePipe::Write(const char* data, std::size_t size) { return WriteAll(write_, data, size); }

std::size_t TracePipe::Read(char* buffer, std::size_t size) {
    for (;;) {
        DWORD n = 0;
        // Fails with ERROR_BROKEN_PIPE once the write end is closed and the pipe is empty.
        if (!ReadFile(read_, buffer, static_cast<DWORD>(size), &n, nullptr))
            return 0;
        if (n > 0)
            return n;
    }
}

void TracePipe::CloseWriteEnd() {
    if (!writeOpen_)
        return;
    writeOpen_ = false;
    CloseHandle(write_);
}

RawOutput::RawOutput(std::FILE* stream) : handle_(0) {
    if (stream == nullptr)
        return;
    HANDLE original = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    HANDLE copy = nullptr;
    if (original != INVALID_HANDLE_VALUE &&
        DuplicateHandle(GetCurrentProcess(), original, GetCurrentProcess(), &copy, 0, FALSE,
                        DUPLICATE_SAME_ACCESS))
        handle_ = reinterpret_cast<std::intptr_t>(copy);
}

RawOutput::~RawOutput() {
    if (handle_ != 0)
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool RawOutput::Write(const char* data, std::size_t size) {
    return WriteAll(reinterpret_cast<HANDLE>(handle_), data, size);
}

}  // namespace qtool
