// Refusals before any VSS work, in their order: platform, then a missing argument,
// then the calling sequence. A refusal changes nothing.
#include "WorkflowFixture.h"

#include <cctype>

namespace quorlin {
namespace testing {
namespace {

struct Refusal {
    const char* what;
    Entry entry;
    bool unsupportedPlatform;
    bool missingArgument;
    bool held;  // a backup is held when the call is made
    int result;
    std::vector<std::string> lines;
};

void PrintTo(const Refusal& r, std::ostream* out) { *out << r.what; }

const char kNotSupported[] = "Not support xp 64.";
const char kInvalid[] = "Invalid parameter.";

const Refusal kRefusals[] = {
    {"start: platform first", Entry::kStartBackup, true, true, true, 100, {kNotSupported}},
    {"start: argument", Entry::kStartBackup, false, true, true, 100, {kInvalid}},
    {"multi: argument", Entry::kStartBackup2, false, true, true, 100, {kInvalid}},
    {"no writer: platform first", Entry::kNoWriter, true, true, true, 100, {kNotSupported}},
    {"no writer: argument before sequence", Entry::kNoWriter, false, true, true, 100, {kInvalid}},
    {"no writer: sequence",
     Entry::kNoWriter,
     false,
     false,
     true,
     99,
     {"Wrong calling sequence, call VssCompleteBackup first."}},
    {"complete: platform first", Entry::kComplete, true, false, true, 100, {kNotSupported}},
    {"complete: nothing held",
     Entry::kComplete,
     false,
     false,
     false,
     100,
     {"Wrong calling sequence, call VssStartBackup first.", "Invalid data."}},
};

class RefusalTest : public WorkflowTest, public ::testing::WithParamInterface<Refusal> {
protected:
    int Call(const Refusal& r) {
        if (!r.missingArgument)
            return r.entry == Entry::kComplete ? agent.VssBackupComplete() : Run(r.entry);
        if (r.entry == Entry::kStartBackup2) {
            wchar_t* outputs[] = {&output[0]};
            return agent.VssStartBackup2(nullptr, outputs, 1);
        }
        return r.entry == Entry::kStartBackup
                   ? agent.VssStartBackup(nullptr, &output[0], outputLength)
                   : agent.VssStartBackupNoWriter(nullptr, &output[0], outputLength);
    }
};

TEST_P(RefusalTest, RefusedWithOneLineAndNothingChanged) {
    const Refusal& r = GetParam();
    if (r.held) {
        PathArrays paths{L"E:\\held"};
        ASSERT_EQ(QUORLIN_RESULT_OK, StartBackup2(paths));
    }
    if (r.unsupportedPlatform) {
        host.versionAvailable = true;
        host.majorVersion = 5;
    }
    const AgentState before = agent.State();
    const size_t volumes = agent.Volumes().size();
    requester.ClearCalls();
    host.consoleBytes.clear();
    host.registryCalls.clear();
    host.tokenCalls.clear();
    host.debugOutput.clear();

    EXPECT_EQ(r.result, Call(r));
    EXPECT_EQ(r.lines, Lines());
    EXPECT_TRUE(requester.Calls().empty());
    EXPECT_TRUE(host.registryCalls.empty());
    EXPECT_TRUE(host.tokenCalls.empty());
    EXPECT_TRUE(before == agent.State());
    EXPECT_EQ(volumes, agent.Volumes().size());
    EXPECT_EQ(-7, outputLength);
    const bool marker = r.entry == Entry::kStartBackup || r.entry == Entry::kNoWriter;
    EXPECT_EQ(marker,
              !host.debugOutput.empty() && host.debugOutput[0] == L"VssStartBackup entry\n");
}

INSTANTIATE_TEST_SUITE_P(Table, RefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<Refusal>& info) {
                             std::string name;
                             for (const char* c = info.param.what; *c; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

using SequenceTest = WorkflowTest;

// The held backup stays usable after a refusal with 99.
TEST_F(SequenceTest, AHeldBackupSurvivesARefusedNoWriterStart) {
    ASSERT_EQ(QUORLIN_RESULT_OK, StartBackup(L"C:\\a"));
    EXPECT_EQ(QUORLIN_RESULT_WRONG_SEQUENCE, StartBackupNoWriter(L"C:\\b"));
    requester.ClearCalls();
    EXPECT_EQ(QUORLIN_RESULT_OK, agent.VssBackupComplete());
    EXPECT_EQ("DeleteSnapshots(set1,2,1)", requester.Calls().back());
}

TEST_F(SequenceTest, ASecondCompletionIsRefused) {
    ASSERT_EQ(QUORLIN_RESULT_OK, StartBackup(L"C:\\a"));
    ASSERT_EQ(QUORLIN_RESULT_OK, agent.VssBackupComplete());
    host.consoleBytes.clear();
    requester.ClearCalls();
    EXPECT_EQ(QUORLIN_RESULT_REFUSED, agent.VssBackupComplete());
    const std::vector<std::string> lines = {"Wrong calling sequence, call VssStartBackup first.",
                                            "Invalid data."};
    EXPECT_EQ(lines, Lines());
    EXPECT_TRUE(requester.Calls().empty());
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
