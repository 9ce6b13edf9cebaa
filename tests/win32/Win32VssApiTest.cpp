// Where vssapi.dll comes from: a file of that name beside the host's executable (the
// first place Windows looks for a DLL named without a path) is never loaded.
#include "win32/Win32Files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorlin {
namespace testing {
namespace {

// A new directory in the temporary directory, removed with the files put in it.
class ScratchDirectory {
public:
    // Takes the name of a new temporary file for itself.
    ScratchDirectory() {
        const std::wstring name = NewTempFile();
        ::DeleteFileW(name.c_str());
        if (::CreateDirectoryW(name.c_str(), nullptr))
            path_ = name;
    }
    ~ScratchDirectory() {
        for (const std::wstring& file : files_)
            ::DeleteFileW(file.c_str());
        if (!path_.empty())
            ::RemoveDirectoryW(path_.c_str());
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    bool Valid() const { return !path_.empty(); }
    // The path of `name` inside, deleted with the directory.
    std::wstring File(const wchar_t* name) {
        files_.push_back(path_ + L"\\" + name);
        return files_.back();
    }

private:
    std::wstring path_;
    std::vector<std::wstring> files_;
};

std::wstring OwnExecutable() {
    wchar_t path[MAX_PATH + 1];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
    return std::wstring(path, length);
}

// Runs `commandLine` to its end; its exit code, or ~0 when it could not be started.
DWORD RunToEnd(std::wstring commandLine) {
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process))
        return ~0u;
    const ScopedHandle processHandle(process.hProcess);
    const ScopedHandle threadHandle(process.hThread);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = ~0u;
    ::GetExitCodeProcess(process.hProcess, &code);
    return code;
}

TEST(Win32VssApiTest, AVssapiFileBesideTheHostIsNotLoaded) {
    ScratchDirectory directory;
    ASSERT_TRUE(directory.Valid());
    const std::wstring host = directory.File(L"host.exe");
    ASSERT_TRUE(::CopyFileW(OwnExecutable().c_str(), host.c_str(), TRUE));
    {
        // Not a DLL at all: a start call that loaded it would fail with another code.
        ScopedHandle planted(::CreateFileW(directory.File(L"vssapi.dll").c_str(), GENERIC_WRITE, 0,
                                           nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(planted.Valid());
        const std::string bytes(4096, 'x');
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(planted.Get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                &written, nullptr));
    }
    // The copy passes this test only when its start calls reach Wine's own vssapi.dll.
    EXPECT_EQ(
        0u, RunToEnd(L"\"" + host +
                     L"\" --gtest_brief=1"
                     L" --gtest_filter=Win32RequesterTest.WineAnswersNotImplementedWithNoObject"));
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
