#include "Quorlin.h"
#include "TestFiles.h"
#include "TraceRelay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace qtool {
namespace {

const int kTraceLevelId = 1;

// Points the library's trace at `relay` with every step traced.
void TraceTo(CQuorlin& agent, TraceRelay& relay) {
    _Quorlin_Setting setting = {0, 4, relay.Console()};
    agent.VssSetting(setting);
}

// What the library traces at every step when asked to complete a backup it does not hold.
const char kRefusal[] = "Wrong calling sequence, call VssStartBackup first.\nInvalid data.\n";

using tooltest::Read;

// The library writes to the relay's pipe through the handle, as it does for a console.
TEST(TraceRelay, CollectsTheLinesTheLibraryTracedSinceTheLastCall) {
    TraceRelay relay(nullptr);
    CQuorlin agent;
    TraceTo(agent, relay);

    EXPECT_EQ(relay.Collect(), "");
    EXPECT_EQ(agent.VssBackupComplete(), QUORLIN_RESULT_REFUSED);
    EXPECT_EQ(relay.Collect(), "Invalid data.");
    EXPECT_EQ(relay.Collect(), "");

    agent.VssSetting(kTraceLevelId, 0);  // quiet again: the handle stays the module's console
    EXPECT_EQ(agent.VssBackupComplete(), QUORLIN_RESULT_REFUSED);
    EXPECT_EQ(relay.Collect(), "");
}

// A step that hangs must still have shown the lines before it: they are copied as the
// library writes them, not when the call returns.
TEST(TraceRelay, ShowsEachLineAsSoonAsItIsWritten) {
    fs::path shownPath =
        fs::temp_directory_path() /
        ("quorlin-shown-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::FILE* shown = std::fopen(shownPath.string().c_str(), "wb");
    ASSERT_NE(shown, nullptr);
    {
        TraceRelay relay(shown);
        CQuorlin agent;
        TraceTo(agent, relay);
        EXPECT_EQ(agent.VssBackupComplete(), QUORLIN_RESULT_REFUSED);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (Read(shownPath) != kRefusal && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(Read(shownPath), kRefusal) << "not shown before Collect";

        // Collecting neither shows the lines again nor shows anything of its own.
        EXPECT_EQ(relay.Collect(), "Invalid data.");
        EXPECT_EQ(agent.VssBackupComplete(), QUORLIN_RESULT_REFUSED);
        EXPECT_EQ(relay.Collect(), "Invalid data.");
        agent.VssSetting(kTraceLevelId, 0);
    }
    std::fclose(shown);
    EXPECT_EQ(Read(shownPath), std::string(kRefusal) + kRefusal);
    fs::remove(shownPath);
}

// The pipe holds far less than this; without a reader draining it the library would
// wait forever in its write.
TEST(TraceRelay, NeverHoldsUpTheLibraryWhenNobodyCollects) {
    TraceRelay relay(nullptr);
    CQuorlin agent;
    TraceTo(agent, relay);
    for (int i = 0; i < 6000; ++i)
        ASSERT_EQ(agent.VssBackupComplete(), QUORLIN_RESULT_REFUSED);
    EXPECT_EQ(relay.Collect(), "Invalid data.");
    agent.VssSetting(kTraceLevelId, 0);
}

// The relay ends with its reader, whether or not anything was traced or collected.
TEST(TraceRelay, EndsWithoutACollect) {
    { TraceRelay idle(nullptr); }
    TraceRelay relay(nullptr);
    CQuorlin agent;
    TraceTo(agent, relay);
    EXPECT_EQ(agent.VssBackupComplete(), QUORLIN_RESULT_REFUSED);
    agent.VssSetting(kTraceLevelId, 0);
}

// Stamped, each shown line keeps the library's text and ends with the time since the
// line before; the lines are kept with their stamps, in order, whether shown or not.
TEST(TraceRelay, StampsEachLineWhenItArrives) {
    fs::path shownPath =
        fs::temp_directory_path() /
        ("quorlin-stamped-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (bool shownToo : {true, false}) {
        std::FILE* shown = shownToo ? std::fopen(shownPath.string().c_str(), "wb") : nullptr;
        ASSERT_TRUE(shown || !shownToo);
        std::vector<TracedLine> lines;
        TraceClock::time_point between;
        {
            TraceRelay relay(shown, true);
            CQuorlin agent;
            TraceTo(agent, relay);
            EXPECT_EQ(agent.VssBackupComplete(), QUORLIN_RESULT_REFUSED);
            EXPECT_EQ(relay.Collect(), "Invalid data.");
            between = TraceClock::now();
            EXPECT_EQ(agent.VssBackupComplete(), QUORLIN_RESULT_REFUSED);
            EXPECT_EQ(relay.Collect(), "Invalid data.");
            lines = relay.Lines();
            agent.VssSetting(kTraceLevelId, 0);
        }
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(lines[1].text, "Invalid data.");
        // Each line is stamped between the start of the call that wrote it and the Collect
        // that followed.
        EXPECT_LE(lines[1].at, between);
        EXPECT_GE(lines[2].at, between);
        for (std::size_t i = 1; i < lines.size(); ++i)
            EXPECT_LE(lines[i - 1].at, lines[i].at);
        if (!shown)
            continue;
        std::fclose(shown);
        const std::string text = Read(shownPath);
        const std::regex stamped(
            "(Wrong calling sequence, call VssStartBackup first\\.  \\[\\+[0-9]+\\.[0-9] ms\\]\n"
            "Invalid data\\.  \\[\\+[0-9]+\\.[0-9] ms\\]\n){2}");
        EXPECT_TRUE(std::regex_match(text, stamped)) << text;
        fs::remove(shownPath);
    }
}

}  // namespace
}  // namespace qtool
