#include "TraceFile.h"

#include "Failure.h"

#include <string>

namespace qtool {

TraceFile::TraceFile() {
    wchar_t folder[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH || GetTempFileNameW(folder, L"qrl", 0, name) == 0)
        throw Failure(kExitFailed,
                      "could not create a temporary file; set TEMP to a writable folder");
    handle_ = CreateFileW(
        name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE)
        throw Failure(kExitFailed,
                      "could not open a temporary file; set TEMP to a writable folder");
}

TraceFile::~TraceFile() { CloseHandle(handle_); }

std::string TraceFile::ReadFrom(std::uint64_t offset) const {
    std::string text;
    char buffer[4096];
    for (;;) {
        std::uint64_t at = offset + text.size();
        OVERLAPPED position = {};
        position.Offset = static_cast<DWORD>(at);
        position.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD n = 0;
        if (!ReadFile(handle_, buffer, sizeof buffer, &n, &position) || n == 0)
            return text;
        text.append(buffer, n);
    }
}

}  // namespace qtool
