// Files, pipes, handles and standard output for the tests that run against the
// real Win32 calls.
#ifndef QUORLIN_TESTS_WIN32_FILES_H
#define QUORLIN_TESTS_WIN32_FILES_H

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include <string>

namespace quorlin {
namespace testing {

// Closes a handle when it goes.
class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    ~ScopedHandle() { Close(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    void Close() { Reset(INVALID_HANDLE_VALUE); }
    // Closes the handle held and holds `handle` instead.
    void Reset(HANDLE handle) {
        if (Valid())
            ::CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_;
};

// The path of a new empty file in the temporary directory, under a name of its own.
inline std::wstring NewTempFile() {
    wchar_t directory[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH + 1, directory);
    ::GetTempFileNameW(directory, L"qrl", 0, name);
    return name;
}

// A new empty file in the temporary directory, deleted when it goes.
class TempFile {
public:
    TempFile() : path_(NewTempFile()) {}
    ~TempFile() { ::DeleteFileW(path_.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::wstring& Path() const { return path_; }
    HANDLE Open(DWORD access) const {
        return ::CreateFileW(path_.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    std::string Contents() const {
        ScopedHandle file(Open(GENERIC_READ));
        return ReadToEnd(file.Get());
    }

    static std::string ReadToEnd(HANDLE handle) {
        std::string bytes;
        char buffer[512];
        DWORD read = 0;
        while (::ReadFile(handle, buffer, sizeof buffer, &read, nullptr) && read > 0)
            bytes.append(buffer, read);
        return bytes;
    }

private:
    std::wstring path_;
};

// An anonymous pipe: write to Writer(), then Drain() what arrived.
class Pipe {
public:
    Pipe() {
        HANDLE readEnd = nullptr;
        HANDLE writeEnd = nullptr;
        if (::CreatePipe(&readEnd, &writeEnd, nullptr, 4096)) {
            reader_.Reset(readEnd);
            writer_.Reset(writeEnd);
        }
    }

    bool Valid() const { return reader_.Valid() && writer_.Valid(); }
    HANDLE Writer() const { return writer_.Get(); }
    // Closes the write end and reads everything written.
    std::string Drain() {
        writer_.Close();
        return TempFile::ReadToEnd(reader_.Get());
    }

private:
    ScopedHandle reader_;
    ScopedHandle writer_;
};

// Points the runtime's standard output at a file for the life of the object.
class StandardOutputCapture {
public:
    StandardOutputCapture() {
        std::fflush(stdout);
        saved_ = _dup(1);
        // Text mode, as a console's standard output is.
        const int fd = _wopen(file_.Path().c_str(), _O_WRONLY | _O_TEXT | _O_TRUNC);
        _dup2(fd, 1);
        _close(fd);
    }
    ~StandardOutputCapture() { Restore(); }

    std::string Finish() {
        Restore();
        return file_.Contents();
    }

private:
    void Restore() {
        if (saved_ < 0)
            return;
        std::fflush(stdout);
        _dup2(saved_, 1);
        _close(saved_);
        saved_ = -1;
    }

    TempFile file_;
    int saved_ = -1;
};

}  // namespace testing
}  // namespace quorlin

#endif
