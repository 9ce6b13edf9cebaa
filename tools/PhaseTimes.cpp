#include "PhaseTimes.h"

#include <algorithm>
#include <cstdio>

namespace qtool {
namespace {

// The phases and the step lines that mark them; "*" stands for any text (a writer's
// name, an answer's duration). A phase without an end line lasts until the next line of
// this table that has none either, or until its call returns; one with an end line
// lasts from the first line that begins it to the last that ends it (the Linux writers:
// from the freeze sent to the last "frozen", from the first "frozen" to the last
// "thawed", the time their applications held still).
struct PhaseRow {
    const char* name;
    const char* begin;
    const char* end;
};
const PhaseRow kPhases[] = {
    {"writers gathered", "Calling GatherWriterMetadata", nullptr},
    {"volumes added", "Calling StartSnapshotSet", nullptr},
    {"prepared", "Calling PrepareForBackup", nullptr},
    {"snapshot taken", "Calling DoSnapshotSet", nullptr},
    {"snapshot paths found", "Calling GetSnapshotProperties", nullptr},
    {"completed", "Calling BackupComplete", nullptr},
    {"writers froze", "Writer *: freeze", "Writer *: frozen*"},
    {"writers held", "Writer *: frozen*", "Writer *: thawed*"},
};
// The phases that the command's own calls mark: from the start call to the first line
// of the table, and from the start call's return to the completion call.
const char kSetUp[] = "set up";
const char kInUse[] = "snapshot in use";
const char kTotal[] = "total";

bool Matches(const char* pattern, const char* text) {
    if (*pattern == '*')
        return Matches(pattern + 1, text) || (*text != '\0' && Matches(pattern, text + 1));
    if (*pattern == '\0')
        return *text == '\0';
    return *pattern == *text && Matches(pattern + 1, text + 1);
}

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

std::vector<PhaseTime> PhasesOf(const std::vector<TracedLine>& lines, const CallSpan& start,
                                const CallSpan* complete) {
    // A line stamped after its call returned came late through the pipe: it belongs to
    // the end of that call (no call runs between the two).
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
        for (const TracedLine& line : lines) {
            const char* text = line.text.c_str();
            if (row.end == nullptr && Matches(row.begin, text)) {
                boundaries.push_back({placed(line.at), row.name});
            } else if (row.end != nullptr && !begun && Matches(row.begin, text)) {
                spanned.begun = placed(line.at);
                begun = true;
            } else if (row.end != nullptr && begun && Matches(row.end, text)) {
                spanned.milliseconds = Milliseconds(placed(line.at) - spanned.begun);
                ended = true;
            }
        }
        if (ended)
            phases.push_back(spanned);
    }
    // After the lines, so that a line placed at its call's end ends there.
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
