// --retry against the real service: while another requester creates a snapshot set, the
// service refuses at once (0x80042316); quorlin tries again after a growing wait, says so,
// and succeeds once the other set is taken, or gives up with one clear sentence.
#include "ToolOnBtrfs.h"

#include "platform/Requester.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace tooltest {
namespace {

using quorlin::BackupComponents;
using quorlin::ComPtr;

// A requester of this process with a set in creation (StartSnapshotSet called).
ComPtr<BackupComponents> SetInCreation() {
    ComPtr<BackupComponents> components;
    VSS_ID setId;
    EXPECT_EQ(S_OK, quorlin::CreatePlatformBackupComponents(components));
    EXPECT_EQ(S_OK, components->InitializeForBackup(nullptr));
    EXPECT_EQ(S_OK, components->StartSnapshotSet(&setId));
    return components;
}

TEST_F(ToolOnBtrfs, RetryWaitsOutAnotherSetInCreation) {
    const std::string file = Volume() + "/retried.txt";
    Write(file, "kept");
    const std::string refused =
        "quorlin: another snapshot is being taken; wait a moment and try again. Trying again in ";
    struct Case {
        const char* name;
        std::vector<std::string> options;
        double holdSeconds;  // how long the other set stays in creation (< 0: throughout)
        int exitCode;
        std::string err;  // all of standard error; on success its start (timing varies)
    };
    const Case cases[] = {
        {"no retry",
         {},
         -1,
         1,
         "quorlin: could not take a snapshot of " + file +
             ": another snapshot is being taken; wait a moment and try again.\n"},
        {"retries run out",
         {"--retry", "2"},
         -1,
         1,
         refused + "1 s (retry 1 of 2).\n" + refused + "2 s (retry 2 of 2).\n" +
             "quorlin: could not take a snapshot of " + file +
             " in 3 tries: another snapshot is being taken; wait a moment and try again.\n"},
        {"the other set is taken meanwhile",
         {"--retry", "3"},
         1.5,
         0,
         refused + "1 s (retry 1 of 3).\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ComPtr<BackupComponents> other = SetInCreation();
        std::vector<std::string> arguments = c.options;
        arguments.insert(arguments.begin(), "snapshot");
        arguments.insert(arguments.end(), {file, "--", "cat", "{}"});
        ToolProcess tool(arguments);
        if (c.holdSeconds >= 0) {
            std::this_thread::sleep_for(std::chrono::duration<double>(c.holdSeconds));
            other->AbortBackup();
        }
        const Outcome outcome = tool.Wait();
        other.Reset();
        EXPECT_EQ(c.exitCode, outcome.exitCode);
        if (c.exitCode != 0)
            EXPECT_EQ(c.err, outcome.err);
        else {
            EXPECT_EQ(c.err, outcome.err.substr(0, c.err.size()));
            EXPECT_EQ(std::string::npos, outcome.err.find("could not")) << outcome.err;
            EXPECT_EQ("kept", outcome.out);
        }
    }
}

}  // namespace
}  // namespace tooltest
