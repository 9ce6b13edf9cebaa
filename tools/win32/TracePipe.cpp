#include "TracePipe.h"

#include "Failure.h"

namespace qtool {

TracePipe::TracePipe() {
    // Without security attributes, neither handle is inheritable.
    if (!CreatePipe(&read_, &write_, nullptr, 0))
        throw Failure(kExitFailed, "could not create a pipe; try again");
}

TracePipe::~TracePipe() {
    CloseWriteEnd();
    CloseHandle(read_);
}

bool TracePipe::Write(const char* data, std::size_t size) {
    while (size > 0) {
        DWORD n = 0;
        if (!WriteFile(write_, data, static_cast<DWORD>(size), &n, nullptr) || n == 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

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

}  // namespace qtool
