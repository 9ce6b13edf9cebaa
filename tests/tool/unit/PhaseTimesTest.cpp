#include "PhaseTimes.h"
#include "quorlin/quorlin.h"

#include <gtest/gtest.h>

namespace qtool {
namespace {

using std::chrono::microseconds;

// Phase events that reach the command at the given milliseconds after `zero`.
struct Step {
    double at;
    int phase;
};

enum {
    kGather = QUORLIN_PHASE_GATHER_WRITERS,
    kAdd = QUORLIN_PHASE_ADD_VOLUMES,
    kPrepare = QUORLIN_PHASE_PREPARE,
    kSnapshot = QUORLIN_PHASE_SNAPSHOT,
    kPaths = QUORLIN_PHASE_SNAPSHOT_PATHS,
    kComplete = QUORLIN_PHASE_COMPLETE,
    kFreeze = QUORLIN_PHASE_WRITER_FREEZE,
    kFrozen = QUORLIN_PHASE_WRITER_FROZEN,
    kThawed = QUORLIN_PHASE_WRITER_THAWED
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

TEST(PhaseTimes, EventsMarkThePhasesOfTheCalls) {
    const struct {
        const char* what;
        std::vector<Step> steps;
        CallSpan start;
        bool completed;
        CallSpan complete;
        const char* phases;
    } cases[] = {
        {"a backup with two Linux writers",
         {{3, kGather},
          {13, kAdd},
          {15, kPrepare},
          {20, kSnapshot},
          {21, kFreeze},
          {22, kFreeze},
          {25, kFrozen},
          {30, kFrozen},
          {45, kThawed},
          {47, kThawed},
          {50, kPaths},
          {1100, kComplete}},
         {At(0), At(52)},
         true,
         {At(1000), At(1110)},
         "set up=3.0;writers gathered=10.0;volumes added=2.0;prepared=5.0;snapshot taken=30.0;"
         "writers froze=9.0;writers held=22.0;snapshot paths found=2.0;snapshot in use=948.0;"
         "completed=10.0;total=1110.0;"},
        {"a start that fails while the snapshot is taken",
         {{3, kGather}, {5, kAdd}, {6, kPrepare}, {8, kSnapshot}, {9, kFreeze}},
         {At(0), At(41)},
         false,
         {},
         "set up=3.0;writers gathered=2.0;volumes added=1.0;prepared=2.0;snapshot taken=33.0;"
         "total=41.0;"},
        {"events that reach the command after their call returned",
         {{2, kSnapshot}, {7, kPaths}, {30, kComplete}, {45, kThawed}},
         {At(0), At(5)},
         true,
         {At(29), At(31)},
         "set up=2.0;snapshot taken=3.0;snapshot paths found=0.0;snapshot in use=24.0;"
         "completed=1.0;total=31.0;"},
    };
    for (const auto& c : cases) {
        std::vector<PhaseMark> marks;
        for (const Step& step : c.steps)
            marks.push_back({step.phase, At(step.at)});
        EXPECT_EQ(Summary(PhasesOf(marks, c.start, c.completed ? &c.complete : nullptr)), c.phases)
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
