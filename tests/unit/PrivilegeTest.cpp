#include "host/Privilege.h"

#include "support/FakeHost.h"

#include <gtest/gtest.h>

namespace quorlin {
namespace {

using testing::FakeHost;

struct PrivilegeCase {
    const char* what;
    bool tokenOpens;
    const wchar_t* name;
    bool adjustSucceeds;
    uint32_t adjustLastError;
    int result;
    uint32_t lastError;  // what the caller reads afterwards
    std::vector<std::string> calls;
    const wchar_t* printed;
};

const char kOpen[] = "OpenProcessToken";
const char kLookup[] = "LookupPrivilegeValue";
const char kAdjust[] = "AdjustTokenPrivileges(17,3)";
const char kClose[] = "CloseToken";

const PrivilegeCase kCases[] = {
    {"held", true, L"SeBackupPrivilege", true, 0, 1, 0, {kOpen, kLookup, kAdjust, kClose}, L""},
    {"not held",
     true,
     L"SeBackupPrivilege",
     true,
     1300,
     0,
     1300,
     {kOpen, kLookup, kAdjust, kClose},
     L"AdjustTokenPrivileges for SeBackupPrivilege failed with 1300"},
    {"adjustment fails",
     true,
     L"SeBackupPrivilege",
     false,
     5,
     0,
     5,
     {kOpen, kLookup, kAdjust, kClose},
     L"AdjustTokenPrivileges for SeBackupPrivilege failed with 5"},
    {"unknown name", true, L"SeNoSuchPrivilege", true, 0, 0, 1313, {kOpen, kLookup, kClose}, L""},
    {"no token", false, L"SeBackupPrivilege", true, 0, 0, 5, {kOpen}, L""},
};

TEST(PrivilegeTest, EnablesThePrivilegeOrSaysWhy) {
    for (const PrivilegeCase& c : kCases) {
        FakeHost host;
        FakeHost::Scope scope(host);
        host.tokenOpens = c.tokenOpens;
        host.adjustSucceeds = c.adjustSucceeds;
        host.adjustLastError = c.adjustLastError;
        host.lastError = 77;  // cleared before the adjustment

        EXPECT_EQ(c.result, AssertPrivilege(c.name)) << c.what;
        EXPECT_EQ(c.lastError, host.GetLastError()) << c.what;
        EXPECT_EQ(c.calls, host.tokenCalls) << c.what;
        EXPECT_EQ(c.printed, host.standardOutput) << c.what;
        EXPECT_EQ(0, host.openTokens) << c.what;
    }
}

TEST(PrivilegeTest, EnablingTwiceSucceedsTwice) {
    FakeHost host;
    FakeHost::Scope scope(host);
    EXPECT_EQ(1, AssertPrivilege(L"SeBackupPrivilege"));
    EXPECT_EQ(1, AssertPrivilege(L"SeBackupPrivilege"));
}

}  // namespace
}  // namespace quorlin
