#include "PhaseTimes.h"

#include "quorlin/quorlin.h"

#include <algorithm>
#include <cstdio>

namespace qtool {
namespace {

// The phases and the events that mark them. A phase without an end event lasts until the
// next event of this table that has none either, or until its call returns; one with an
// end event lasts from the first event that begins it to the last that ends it (the Linux
// writers: from the first freeze sent to the last frozen, from the first frozen to the
// last thawed, the time their applications held still).
struct PhaseRow {
    const char* name;
    int begin;
    int end;  // 0: none
};
const PhaseRow kPhases[] = {
    {"writers gathered", QUORLIN_PHASE_GATHER_WRITERS, 0},
    {"volumes added", QUORLIN_PHASE_ADD_VOLUMES, 0},
    {"prepared", QUORLIN_PHASE_PREPARE, 0},
    {"snapshot taken", QUORLIN_PHASE_SNAPSHOT, 0},
    {"snapshot paths found", QUORLIN_PHASE_SNAPSHOT_PATHS, 0},
    {"completed", QUORLIN_PHASE_COMPLETE, 0},
    {"writers froze", QUORLIN_PHASE_WRITER_FREEZE, QUORLIN_PHASE_WRITER_FROZEN},
    {"writers held", QUORLIN_PHASE_WRITER_FROZEN, QUORLIN_PHASE_WRITER_THAWED},
};
// The phases that the command's own calls mark: from the start call to the first event
// of the table, and from the start call's return to the completion call.
const char kSetUp[] = "set up";
const char kInUse[] = "snapshot in use";
const char kTotal[] = "total";

double Milliseconds(TraceClock::duration duration) {
    return std::max(0.0, std::chrono::duration<double, std::milli>(duration).count());
}

// A point where a phase without an end line begins (`name`) or where one ends (null).
struct Boundary {
    TraceClock::time_point at;
    const char* name;
};

}  // namespace

std::string StepTimeSuffix(TraceClock::duration sincePrevious) {
    char text[48];
    std::snprintf(text, sizeof text, "  [+%.1f ms]", Milliseconds(sincePrevious));
    return text;
}

std::vector<PhaseTime> PhasesOf(const std::vector<PhaseMark>& marks, const CallSpan& start,
                                const CallSpan* complete) {
    // An event stamped after its call returned (a thread of the snapshot service may
    // still be ending) belongs to the end of that call (no call runs between the two).
    auto placed = [&](TraceClock::time_point at) {
        if (complete && at > complete->ended)
            return complete->ended;
        if (at > start.ended && (!complete || at < complete->begun))
            return start.ended;
        return at;
    };
    std::vector<Boundary> boundaries;
    std::vector<PhaseTime> phases;
    for (const PhaseRow& row : kPhases) {
        PhaseTime spanned{row.name, {}, 0};
        bool begun = false;
        bool ended = false;
        for (const PhaseMark& mark : marks) {
            if (row.end == 0 && mark.phase == row.begin) {
                boundaries.push_back({placed(mark.at), row.name});
            } else if (row.end != 0 && !begun && mark.phase == row.begin) {
                spanned.begun = placed(mark.at);
                begun = true;
            } else if (row.end != 0 && begun && mark.phase == row.end) {
                spanned.milliseconds = Milliseconds(placed(mark.at) - spanned.begun);
                ended = true;
            }
        }
        if (ended)
            phases.push_back(spanned);
    }
    // After the events, so that an event placed at its call's end ends there.
    boundaries.push_back({start.begun, kSetUp});
    boundaries.push_back({start.ended, complete ? kInUse : nullptr});
    if (complete) {
        boundaries.push_back({complete->begun, nullptr});
        boundaries.push_back({complete->ended, nullptr});
    }
    std::stable_sort(boundaries.begin(), boundaries.end(),
                     [](const Boundary& a, const Boundary& b) { return a.at < b.at; });
    for (std::size_t i = 0; i + 1 < boundaries.size(); ++i)
        if (boundaries[i].name != nullptr)
            phases.push_back({boundaries[i].name, boundaries[i].at,
                              Milliseconds(boundaries[i + 1].at - boundaries[i].at)});
    std::stable_sort(phases.begin(), phases.end(),
                     [](const PhaseTime& a, const PhaseTime& b) { return a.begun < b.begun; });
    const TraceClock::time_point last = complete ? complete->ended : start.ended;
    phases.push_back({kTotal, start.begun, Milliseconds(last - start.begun)});
    return phases;
}

std::string TimingsText(const std::vector<PhaseTime>& phases) {
    std::string text;
    for (const PhaseTime& phase : phases) {
        char line[128];
        std::snprintf(line, sizeof line, "quorlin: timings: %-22s %10.1f ms\n", phase.name.c_str(),
                      phase.milliseconds);
        text += line;
    }
    return text;
}

}  // namespace qtool
