// Paths through links lead to the volume that holds what they name: the real Win32
// host seam resolves the final path before the volume lookup and the translation.
#include "Quorlin.h"
#include "platform/Platform.h"
#include "platform/win32/FinalPath.h"
#include "support/ScriptedRequester.h"
#include "support/TraceState.h"
#include "win32/Win32Files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace quorlin {
namespace {

TEST(Win32FinalPathTest, ThePrefixOfTheFinalPathFormsGoes) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"\\\\?\\C:\\Data\\report.doc", L"C:\\Data\\report.doc"},
        {L"\\\\?\\z:\\", L"z:\\"},
        {L"\\\\?\\UNC\\server\\share\\x", L"\\\\server\\share\\x"},
        {L"\\\\?\\Volume{0b1c}\\x", L"\\\\?\\Volume{0b1c}\\x"},
        {L"C:\\plain", L"C:\\plain"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.second, WithoutFinalPathPrefix(c.first)) << c.first.size();
}

// Starts a program (under Wine a Unix one, whose process cannot be waited for).
bool Start(const wchar_t* program, std::wstring commandLine) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(program, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process))
        return false;
    if (process.hThread != nullptr)
        ::CloseHandle(process.hThread);
    if (process.hProcess != nullptr)
        ::CloseHandle(process.hProcess);
    return true;
}

// Waits up to ten seconds for `path` to be there (`present`) or gone.
bool AwaitPresence(const std::wstring& path, bool present) {
    for (int i = 0; i < 1000; ++i) {
        if ((::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) == present)
            return true;
        ::Sleep(10);
    }
    return false;
}

// The Unix name of a path under Wine; empty elsewhere.
std::wstring UnixName(const std::wstring& path) {
    typedef char*(CDECL * UnixFileName)(const wchar_t*);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    FARPROC address = kernel ? ::GetProcAddress(kernel, "wine_get_unix_file_name") : nullptr;
    if (address == nullptr)
        return L"";
    char* name = reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(address))(path.c_str());
    if (name == nullptr)
        return L"";
    const std::wstring wide(name, name + std::strlen(name));  // ASCII names only here
    ::HeapFree(::GetProcessHeap(), 0, name);
    return wide;
}

// A folder on Z: (Wine's view of the Unix root) with one file, and a symbolic link to
// it from the temporary folder on C:. Wine's CreateSymbolicLinkW makes nothing, so
// the link is one of the Unix file system, which Wine follows; elsewhere it is made
// by CreateSymbolicLinkW. The folder's path is longer than the link's.
class LinkAcrossVolumes {
public:
    LinkAcrossVolumes() {
        const std::wstring id = std::to_wstring(::GetCurrentProcessId());
        target_ = L"Z:\\tmp\\quorlin-link-target-" + std::wstring(100, L'x') + id;
        wchar_t temp[MAX_PATH + 1];
        ::GetTempPathW(MAX_PATH + 1, temp);
        link_ = std::wstring(temp) + L"quorlin-link-" + id;
        ::CreateDirectoryW(target_.c_str(), nullptr);
        testing::ScopedHandle file(::CreateFileW((target_ + L"\\file.txt").c_str(), GENERIC_WRITE,
                                                 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        unixLink_ = UnixName(link_);
        if (unixLink_.empty())
            ::CreateSymbolicLinkW(link_.c_str(), target_.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
        else
            Start(L"Z:\\bin\\ln", L"ln -s \"" + UnixName(target_) + L"\" \"" + unixLink_ + L"\"");
        made_ = AwaitPresence(link_ + L"\\file.txt", true);
    }
    ~LinkAcrossVolumes() {
        if (unixLink_.empty())
            ::RemoveDirectoryW(link_.c_str());
        else if (Start(L"Z:\\bin\\rm", L"rm -f \"" + unixLink_ + L"\""))
            AwaitPresence(link_, false);
        ::DeleteFileW((target_ + L"\\file.txt").c_str());
        ::RemoveDirectoryW(target_.c_str());
    }

    bool Made() const { return made_; }
    const std::wstring& Link() const { return link_; }
    const std::wstring& Target() const { return target_; }

private:
    std::wstring target_, link_, unixLink_;
    bool made_ = false;
};

TEST(Win32FinalPathTest, APathThroughALinkLeadsToTheVolumeOfItsTarget) {
    LinkAcrossVolumes link;
    ASSERT_TRUE(link.Made());
    struct Case {
        std::wstring path;
        std::wstring full;
        std::wstring volume;
    } const cases[] = {
        {link.Link() + L"\\file.txt", link.Target() + L"\\file.txt", L"Z:\\"},
        {link.Link(), link.Target(), L"Z:\\"},
        // Below the link but not (yet) there: resolved through the nearest ancestor.
        {link.Link() + L"\\missing\\x", link.Target() + L"\\missing\\x", L"Z:\\"},
        {link.Link() + L"\\", link.Target() + L"\\", L"Z:\\"},
        {L"C:\\windows\\win.ini", L"C:\\windows\\win.ini", L"C:\\"},
    };
    for (const Case& c : cases) {
        std::wstring full;
        size_t sizing = 0;
        ASSERT_TRUE(PlatformHost().GetFullPathName(c.path.c_str(), full, sizing)) << c.path.size();
        EXPECT_EQ(c.full, full);
        wchar_t root[MAX_PATH] = L"";
        ASSERT_TRUE(PlatformHost().GetVolumePathName(full.c_str(), root, MAX_PATH));
        EXPECT_EQ(c.volume, root);
    }
}

// The whole start call on the real host seam: the volume of the link's target goes
// into the set, and the snapshot path is the target's path below that volume, in a
// buffer sized by the final path as Quorlin.h says for a path through a link.
TEST(Win32FinalPathTest, TheSnapshotOfALinkedPathIsThatOfItsTarget) {
    LinkAcrossVolumes link;
    ASSERT_TRUE(link.Made());
    testing::TraceState trace;
    testing::ScriptedRequester requester;
    testing::ScriptedRequester::Scope scope(requester);
    requester.devices = {{L"Z:\\", L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy9"}};
    std::wstring source = link.Link() + L"\\file.txt";
    std::vector<wchar_t> snapshot(link.Target().size() + 9 + 64, L'#');
    int length = 0;
    CQuorlin agent;
    ASSERT_EQ(QUORLIN_RESULT_OK, agent.VssStartBackup(&source[0], snapshot.data(), length));
    EXPECT_EQ(1u, requester.CallsNamed("AddToSnapshotSet(Z:\\,").size());
    const std::wstring expected = L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy9" +
                                  link.Target().substr(2) + L"\\file.txt";
    EXPECT_EQ(expected, std::wstring(snapshot.data()));
    EXPECT_EQ(QUORLIN_RESULT_OK, agent.VssBackupComplete());
}

// A path in short (8.3) names, without links, whose final path is longer: its snapshot
// path is checked against the room that Quorlin.h promises for it, its own length + 64,
// so that a buffer of that size is never written past.
TEST(Win32FinalPathTest, ShortNamesExpandedDoNotWidenThePromisedRoom) {
    wchar_t temp[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring folder = temp + std::wstring(L"quorlin folder named at great length");
    ::CreateDirectoryW(folder.c_str(), nullptr);
    wchar_t shortName[MAX_PATH + 1] = L"";
    ::GetShortPathNameW(folder.c_str(), shortName, MAX_PATH + 1);
    std::wstring source = shortName + std::wstring(L"\\file.txt");
    testing::TraceState trace;
    testing::ScriptedRequester requester;
    testing::ScriptedRequester::Scope scope(requester);
    requester.devices = {{L"C:\\", L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy9"}};
    std::vector<wchar_t> snapshot(source.size() + 64 + 16, L'#');
    int length = 0;
    const int result = CQuorlin().VssStartBackup(&source[0], snapshot.data(), length);
    ::RemoveDirectoryW(folder.c_str());
    if (std::wcslen(shortName) + 18 > folder.size())  // the snapshot path would fit
        GTEST_SKIP() << "no short names on this volume";
    EXPECT_EQ(QUORLIN_RESULT_FAILED, result);
    EXPECT_EQ(std::wstring(snapshot.size(), L'#'), std::wstring(snapshot.data(), snapshot.size()));
}

}  // namespace
}  // namespace quorlin
