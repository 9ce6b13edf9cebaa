// Paths, standard output, COM security and the process token through the real
// Win32 host seam.
#include "platform/Platform.h"
#include "win32/Win32Files.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <string>

namespace quorlin {
namespace {

using testing::StandardOutputCapture;

// Runs with `directory` as the process's current directory.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const wchar_t* directory) {
        wchar_t saved[MAX_PATH];
        ::GetCurrentDirectoryW(MAX_PATH, saved);
        saved_ = saved;
        ::SetCurrentDirectoryW(directory);
    }
    ~CurrentDirectory() { ::SetCurrentDirectoryW(saved_.c_str()); }

private:
    std::wstring saved_;
};

TEST(Win32HostTest, FullPathsResolveAgainstTheCurrentDirectory) {
    CurrentDirectory current(L"C:\\windows");
    struct Case {
        std::wstring path;
        std::wstring expected;
    } const cases[] = {
        {L"win.ini", L"C:\\windows\\win.ini"},
        {L"..\\data\\.\\report.doc", L"C:\\data\\report.doc"},
        {L"\\temp", L"C:\\temp"},
        // Not there: resolved through its drive's root, whose final path gives the letter.
        {L"c:\\data", L"C:\\data"},
        // Longer than MAX_PATH: the first answer is only the size needed.
        {L"C:\\" + std::wstring(300, L'a'), L"C:\\" + std::wstring(300, L'a')},
    };
    for (const Case& c : cases) {
        std::wstring full = L"previous";
        size_t sizing = 0;
        ASSERT_TRUE(PlatformHost().GetFullPathName(c.path.c_str(), full, sizing)) << c.path.size();
        EXPECT_EQ(c.expected, full);
    }
}

TEST(Win32HostTest, VolumePathIsTheDriveRoot) {
    wchar_t root[MAX_PATH] = L"";
    ASSERT_TRUE(PlatformHost().GetVolumePathName(L"C:\\windows\\win.ini", root, MAX_PATH));
    EXPECT_STREQ(L"C:\\", root);
    PlatformHost().SetLastError(0);
    EXPECT_FALSE(PlatformHost().GetVolumePathName(L"Q:\\nothing\\here", root, MAX_PATH));
    EXPECT_EQ(2u, PlatformHost().GetLastError());
}

TEST(Win32HostTest, StandardOutputGetsTheTextAsGivenAndKeepsTheLastError) {
    StandardOutputCapture capture;
    PlatformHost().SetLastError(1300);
    PlatformHost().WriteStandardOutput(L"AdjustTokenPrivileges for %s failed with 1300");
    const uint32_t error = PlatformHost().GetLastError();
    EXPECT_EQ("AdjustTokenPrivileges for %s failed with 1300", capture.Finish());
    EXPECT_EQ(1300u, error);
}

TEST(Win32HostTest, ComSecurityIsAcceptedOnceComIsInitialised) {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    EXPECT_EQ(S_OK, PlatformHost().InitializeComSecurity());
    ::CoUninitialize();
}

TEST(Win32HostTest, BackupPrivilegeIsEnabledInTheProcessToken) {
    Host& host = PlatformHost();
    void* token = nullptr;
    ASSERT_TRUE(host.OpenProcessToken(token));
    uint64_t luid = 0;
    ASSERT_TRUE(host.LookupPrivilegeValue(L"SeBackupPrivilege", luid));
    host.SetLastError(0);
    EXPECT_TRUE(host.AdjustTokenPrivilege(token, luid,
                                          SE_PRIVILEGE_ENABLED | SE_PRIVILEGE_ENABLED_BY_DEFAULT));
    EXPECT_EQ(0u, host.GetLastError());

    // The identifier survives the trip through the seam's opaque form.
    LUID direct;
    ASSERT_TRUE(::LookupPrivilegeValueW(nullptr, L"SeBackupPrivilege", &direct));
    EXPECT_EQ(direct.LowPart, static_cast<DWORD>(luid));
    EXPECT_EQ(direct.HighPart, static_cast<LONG>(luid >> 32));

    uint64_t unknown = 0;
    EXPECT_FALSE(host.LookupPrivilegeValue(L"SeNoSuchPrivilege", unknown));
    EXPECT_EQ(static_cast<uint32_t>(ERROR_NO_SUCH_PRIVILEGE), host.GetLastError());
    host.CloseToken(token);
}

}  // namespace
}  // namespace quorlin
