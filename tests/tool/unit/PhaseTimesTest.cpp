#include "PhaseTimes.h"

#include <gtest/gtest.h>

namespace qtool {
namespace {

using std::chrono::microseconds;

// A trace whose lines reach the command at the given milliseconds after `zero`.
struct Step {
    double at;
    const char* line;
};

const TraceClock::time_point zero;

TraceClock::time_point At(double milliseconds) {
    return zero + microseconds(static_cast<long long>(milliseconds * 1000));
}

std::string Summary(const std::vector<PhaseTime>& phases) {
    std::string text;
    for (const PhaseTime& phase : phases) {
        char line[96];
        std::snprintf(line, sizeof line, "%s=%.1f;", phase.name.c_str(), phase.milliseconds);
        text += line;
    }
    return text;
}

TEST(PhaseTimes, StepLinesMarkThePhasesOfTheCalls) {
    const struct {
        const char* what;
        std::vector<Step> steps;
        CallSpan start;
        bool completed;
        CallSpan complete;
        const char* phases;
    } cases[] = {
        {"a backup with a Linux writer",
         {{1, "Calling CreateVssBackupComponents"},
          {2, "Calling InitializeForBackup"},
          {3, "Calling GatherWriterMetadata"},
          {4, "Writer sqlite: identify 1"},
          {9, "Writer sqlite: ready (5 ms)"},
          {13, "Calling StartSnapshotSet"},
          {14, "Calling AddToSnapshotSet"},
          {15, "Calling PrepareForBackup"},
          {20, "Calling DoSnapshotSet"},
          {21, "Writer sqlite: freeze"},
          {30, "Writer sqlite: frozen (9 ms)"},
          {45, "Writer sqlite: thaw"},
          {47, "Writer sqlite: thawed (2 ms)"},
          {50, "Calling GetSnapshotProperties"},
          {1100, "Calling BackupComplete"},
          {1105, "Backup successfully completed."}},
         {At(0), At(52)},
         true,
         {At(1000), At(1110)},
         "set up=3.0;writers gathered=10.0;volumes added=2.0;prepared=5.0;snapshot taken=30.0;"
         "writers froze=9.0;writers held=17.0;snapshot paths found=2.0;snapshot in use=948.0;"
         "completed=10.0;total=1110.0;"},
        {"a start that fails while the snapshot is taken",
         {{1, "Calling CreateVssBackupComponents"},
          {3, "Calling GatherWriterMetadata"},
          {5, "Calling StartSnapshotSet"},
          {6, "Calling PrepareForBackup"},
          {8, "Calling DoSnapshotSet"},
          {9, "Writer app: freeze"},
          {40, "There was a COM failure 0x800423f2 - .\\QuorlinClass (540)"}},
         {At(0), At(41)},
         false,
         {},
         "set up=3.0;writers gathered=2.0;volumes added=1.0;prepared=2.0;snapshot taken=33.0;"
         "total=41.0;"},
        {"lines that reach the command after their call returned",
         {{1, "Calling CreateVssBackupComponents"},
          {2, "Calling DoSnapshotSet"},
          {7, "Calling GetSnapshotProperties"},
          {30, "Calling BackupComplete"},
          {45, "Backup successfully completed."}},
         {At(0), At(5)},
         true,
         {At(29), At(31)},
         "set up=2.0;snapshot taken=3.0;snapshot paths found=0.0;snapshot in use=24.0;"
         "completed=1.0;total=31.0;"},
    };
    for (const auto& c : cases) {
        std::vector<TracedLine> lines;
        for (const Step& step : c.steps)
            lines.push_back({step.line, At(step.at)});
        EXPECT_EQ(Summary(PhasesOf(lines, c.start, c.completed ? &c.complete : nullptr)), c.phases)
            << c.what;
    }
}

TEST(PhaseTimes, LinesAndSuffixesReadAsMilliseconds) {
    EXPECT_EQ(StepTimeSuffix(microseconds(12345)), "  [+12.3 ms]");
    EXPECT_EQ(StepTimeSuffix(microseconds(0)), "  [+0.0 ms]");
    EXPECT_EQ(TimingsText({{"snapshot taken", At(0), 25.06}, {"total", At(0), 1234.5}}),
              "quorlin: timings: snapshot taken               25.1 ms\n"
              "quorlin: timings: total                      1234.5 ms\n");
}

}  // namespace
}  // namespace qtool
