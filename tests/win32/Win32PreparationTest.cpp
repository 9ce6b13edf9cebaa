// The host preparation checks for real under Wine: the backup privilege in the
// process token, and the filter list under the volume class key that the test
// makes in the Wine prefix.
#include "host/FilterRegistration.h"
#include "host/Privilege.h"
#include "win32/ReportedVersionHost.h"
#include "win32/VolumeClassKey.h"
#include "win32/Win32Files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorlin {
namespace {

using testing::ReportedVersionHost;
using testing::StandardOutputCapture;
using testing::VolumeClassKey;

TEST(Win32PrivilegeTest, BackupPrivilegeIsEnabledQuietly) {
    StandardOutputCapture output;
    EXPECT_NE(0, AssertPrivilege(L"SeBackupPrivilege"));
    EXPECT_NE(0, AssertPrivilege(L"SeBackupPrivilege"));  // already enabled
    EXPECT_EQ(0, AssertPrivilege(L"SeNoSuchPrivilege"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_SUCH_PRIVILEGE), ::GetLastError());
    EXPECT_EQ("", output.Finish());
}

TEST(Win32FilterTest, MajorVersion6LeavesTheRegistryAlone) {
    VolumeClassKey::Remove();
    EXPECT_TRUE(IsMajorVersion6());  // Wine reports 6.1
    EXPECT_EQ(1, CheckVolSnapFilter());
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, VolumeClassKey::kPath, 0, KEY_READ, &key));
}

TEST(Win32FilterTest, AMissingClassKeyAnswers0AndIsNotCreated) {
    ReportedVersionHost version(10);
    VolumeClassKey::Remove();
    EXPECT_EQ(0, CheckVolSnapFilter());
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, VolumeClassKey::kPath, 0, KEY_READ, &key));
}

std::wstring List(const std::vector<std::wstring>& entries) {
    std::wstring list;
    for (const std::wstring& entry : entries)
        list.append(entry).push_back(L'\0');
    list.push_back(L'\0');
    return list;
}

struct FilterCase {
    const char* name;
    bool present;                      // "UpperFilters" exists before the check
    std::vector<std::wstring> before;  // its entries
    int expected;                      // the first check's answer
    std::vector<std::wstring> after;   // the list afterwards
};

TEST(Win32FilterTest, ListsAreFoundOrRepairedInTheRegistry) {
    ReportedVersionHost version(10);
    const std::wstring longName(300, L'p');  // pushes the list past the 512-byte read
    const FilterCase cases[] = {
        {"absent", false, {}, 0, {L"VolSnap"}},
        {"other entries", true, {L"PartMgr", L"fvevol"}, 0, {L"PartMgr", L"fvevol", L"VolSnap"}},
        {"empty list", true, {}, 0, {L"VolSnap"}},
        {"holds the filter", true, {L"PartMgr", L"volsnap"}, 1, {L"PartMgr", L"volsnap"}},
        {"inside a longer name", true, {L"myVOLSNAPx"}, 1, {L"myVOLSNAPx"}},
        {"filter past 512 bytes", true, {longName, L"VolSnap"}, 1, {longName, L"VolSnap"}},
        {"long list without it",
         true,
         {longName, L"PartMgr"},
         0,
         {longName, L"PartMgr", L"VolSnap"}},
    };
    for (const FilterCase& c : cases) {
        VolumeClassKey classKey;
        ASSERT_TRUE(classKey.Exists());
        if (c.present)
            classKey.SetFilterList(c.before);
        EXPECT_EQ(c.expected, CheckVolSnapFilter()) << c.name;
        DWORD type = 0;
        std::wstring stored;
        ASSERT_TRUE(classKey.ReadFilters(type, stored)) << c.name;
        EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type) << c.name;
        EXPECT_EQ(List(c.after), stored) << c.name;
        EXPECT_EQ(1, CheckVolSnapFilter()) << c.name << ": a second check";
    }
}

}  // namespace
}  // namespace quorlin
