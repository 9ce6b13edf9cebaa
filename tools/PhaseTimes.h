// Where the time of a backup went: the library's phase events, stamped as they reach the
// command, mark the phases of its calls (--timings), and each shown step line carries
// the time since the one before (-vv).
#ifndef QUORLIN_TOOL_PHASE_TIMES_H
#define QUORLIN_TOOL_PHASE_TIMES_H

#include <chrono>
#include <string>
#include <vector>

namespace qtool {

using TraceClock = std::chrono::steady_clock;

// A trace line without its line end, and when its first byte reached the command.
struct TracedLine {
    std::string text;
    TraceClock::time_point at;
};

// A phase event of the library (QUORLIN_PHASE_*), and when it reached the command.
struct PhaseMark {
    int phase;
    TraceClock::time_point at;
};

// What the command saw of one library call: when it was made and when it returned.
struct CallSpan {
    TraceClock::time_point begun;
    TraceClock::time_point ended;
};

struct PhaseTime {
    std::string name;
    TraceClock::time_point begun;
    double milliseconds = 0;
};

// "  [+12.3 ms]": what -vv adds to a shown line, after the library's own text.
std::string StepTimeSuffix(TraceClock::duration sincePrevious);

// The phases of the calls `start` and, when it was made, `complete` (the held time
// between them is "snapshot in use"), in the order they began, and "total" last.
std::vector<PhaseTime> PhasesOf(const std::vector<PhaseMark>& marks, const CallSpan& start,
                                const CallSpan* complete);

// One line per phase: "quorlin: timings: snapshot taken       25.1 ms".
std::string TimingsText(const std::vector<PhaseTime>& phases);

}  // namespace qtool

#endif  // QUORLIN_TOOL_PHASE_TIMES_H
