// The fixture of the tests that drive the built quorlin on real btrfs volumes, and the
// helpers they share.
#ifndef QUORLIN_TESTS_TOOL_ON_BTRFS_H
#define QUORLIN_TESTS_TOOL_ON_BTRFS_H

#include "BtrfsScratch.h"
#include "TestFiles.h"
#include "ToolProcess.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace tooltest {

bool Exists(const std::string& path);
// The snapshot paths of the "PATH<TAB>SNAPSHOT-PATH" lines.
std::vector<std::string> SnapshotPaths(const std::string& out);
// Their left column.
std::vector<std::string> Places(const std::string& out);
// Makes this process the user nobody (no supplementary groups); false when it cannot.
bool BecomeNobody();
// Runs `action` in a child process as the user nobody; its result, false when the child
// could not become nobody.
bool AsNobody(const std::function<bool()>& action);
uid_t NobodyUid();
gid_t NobodyGid();

// One set of scratch volumes for all the tests; main() leaves these suites out where the
// volumes cannot be made.
class ToolOnBtrfs : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    // Every snapshot the tool took is gone again.
    void TearDown() override;

    static std::string Volume() { return scratch_->Volume(); }

    static BtrfsScratch* scratch_;
    static int baseline_;
};

}  // namespace tooltest

#endif  // QUORLIN_TESTS_TOOL_ON_BTRFS_H
