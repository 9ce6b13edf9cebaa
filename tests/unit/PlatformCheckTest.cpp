#include "host/PlatformCheck.h"
#include "support/FakeHost.h"

#include <gtest/gtest.h>

namespace quorlin {
namespace {

using testing::FakeHost;

struct PlatformCase {
    bool versionAvailable;
    bool extendedFails;
    unsigned major;
    uint16_t architecture;
    int r2;
    int expected;
};

TEST(PlatformCheckTest, RefusesOnly64BitMajorVersion5WithoutR2) {
    const PlatformCase cases[] = {
        {true, false, 5, 9, 0, 1},                              // 64-bit x64, not R2
        {true, false, 5, 6, 0, 1},                              // Itanium, not R2
        {true, true, 5, 9, 0, 1},                               // known through the plain record
        {true, false, 5, 9, 1, 0},                              // server R2
        {true, false, 5, 6, 1, 0},  {true, false, 5, 0, 0, 0},  // 32-bit x86
        {true, false, 6, 9, 0, 0},  {true, false, 10, 9, 0, 0},
        {false, false, 5, 9, 0, 0},  // version unknown: never refused
    };
    for (const PlatformCase& c : cases) {
        FakeHost host;
        FakeHost::Scope scope(host);
        host.versionAvailable = c.versionAvailable;
        host.extendedVersionFails = c.extendedFails;
        host.majorVersion = c.major;
        host.architecture = c.architecture;
        host.serverR2Metric = c.r2;
        EXPECT_EQ(c.expected, IsUnsupportedPlatform())
            << "major " << c.major << " arch " << c.architecture << " r2 " << c.r2;
    }
}

TEST(PlatformCheckTest, FallsBackToThePlainRecordOnce) {
    FakeHost host;
    FakeHost::Scope scope(host);
    host.versionAvailable = true;
    host.extendedVersionFails = true;
    IsUnsupportedPlatform();
    EXPECT_EQ((std::vector<std::string>{"extended", "plain"}), host.versionQueries);
}

}  // namespace
}  // namespace quorlin
