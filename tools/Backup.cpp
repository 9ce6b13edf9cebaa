#include "Backup.h"

#include "Architecture.h"
#include "Diagnosis.h"
#include "Retry.h"
#include "SetInstant.h"
#include "Text.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace qtool {
namespace {

// The library copies snapshot paths without a bound. For an absolute source path, its
// length and 64 units are enough on Windows, and 8192 units always are on Linux: whatever
// the library resolves the path to meanwhile (a user may put a link on its way), so the
// room cannot be less. The buffers of all paths are one block that is never written
// here, so that only the pages the library writes (about one per path) take memory, not
// the whole room of every path.
size_t SnapshotPathRoom(const std::vector<std::wstring>& sources) {
    size_t longest = 0;
    for (const std::wstring& source : sources)
        longest = std::max(longest, source.size());
    return std::max<size_t>(longest + 64, 8192) + 1;
}

const int kTraceResults = 2;  // failure reports
const int kTraceSteps = 6;    // every step as well, the snapshot service's own included
const int kTraceLevelId = 1;  // VssSetting(id, value): the trace verbosity

// Whether the library traces every step: for -vv, and for the phases of --timings.
bool TracesSteps(const BackupOptions& options) { return options.verbosity > 1 || options.timings; }

std::string ActionFor(const std::vector<std::string>& sources) {
    if (sources.size() == 1)
        return "take a snapshot of " + FieldForLine(sources[0]);
    return "take a snapshot of the " + std::to_string(sources.size()) + " paths";
}

}  // namespace

Backup::Backup(const BackupOptions& options)
    : trace_(options.verbosity > 0 ? stderr : nullptr, TracesSteps(options)),
      withWriters_(options.withWriters),
      retries_(options.retries),
      timings_(options.timings),
      stepsShown_(options.verbosity > 1) {
    // The report line of a failure is always traced, so that the command can explain it;
    // the trace is shown, as it is written, only under -v.
    _Quorlin_Setting setting = {};
    setting.backupType = options.incremental ? 2 : 0;
    setting.traceLevel = TracesSteps(options) ? kTraceSteps : kTraceResults;
    setting.traceConsole = trace_.Console();
    agent_.VssSetting(setting);
    agent_.VssSetting(QUORLIN_SETTING_WAIT_LIMIT, options.timeoutSeconds * 1000);
}

Backup::~Backup() {
    if (held_) {
        complete_.begun = TraceClock::now();
        agent_.VssBackupComplete();
        complete_.ended = TraceClock::now();
        completed_ = true;
        trace_.Collect();
    }
    ShowTimings();
    // The trace console is the module's and outlives this object: nothing may be written
    // to it once the relay has closed it.
    agent_.VssSetting(kTraceLevelId, 0);
}

int Backup::StartOne(const std::vector<std::wstring>& sources, wchar_t* buffers, size_t room) {
    std::vector<wchar_t*> sourcePointers;
    std::vector<wchar_t*> snapshotPointers;
    for (size_t i = 0; i < sources.size(); ++i) {
        sourcePointers.push_back(const_cast<wchar_t*>(sources[i].c_str()));
        snapshotPointers.push_back(buffers + i * room);
    }
    int length = 0;
    if (sources.size() > 1)
        return agent_.VssStartBackup2(sourcePointers.data(), snapshotPointers.data(),
                                      static_cast<int>(sources.size()));
    if (withWriters_)
        return agent_.VssStartBackup(sourcePointers[0], snapshotPointers[0], length);
    return agent_.VssStartBackupNoWriter(sourcePointers[0], snapshotPointers[0], length);
}

std::vector<std::string> Backup::Start(const std::vector<std::string>& sources) {
    CheckArchitectureServed(ActionFor(sources).c_str());
    std::vector<std::wstring> wideSources;
    for (const std::string& source : sources)
        wideSources.push_back(WideFromUtf8(source));
    const size_t room = SnapshotPathRoom(wideSources);
    std::unique_ptr<wchar_t[]> buffers(new wchar_t[room * wideSources.size()]);
    int result = QUORLIN_RESULT_OK;
    std::string report;
    int tries = 0;
    // The start phase of --timings spans every try, the waits between them included.
    started_ = true;
    start_.begun = TraceClock::now();
    do {
        result = StartOne(wideSources, buffers.get(), room);
        start_.ended = TraceClock::now();
        report = trace_.Collect();
        ++tries;
    } while (result != QUORLIN_RESULT_OK && WaitToRetry(tries, retries_, result, report));
    if (result != QUORLIN_RESULT_OK)
        throw DiagnoseFailure(
            ActionFor(sources) + (tries > 1 ? " in " + std::to_string(tries) + " tries" : ""),
            result, report);
    held_ = true;
    hasInstant_ = agent_.VssSetInstant(instant_) == QUORLIN_RESULT_OK;
    if (hasInstant_ && stepsShown_) {
        trace_.Insert("Snapshot set: " + InstantText(instant_));  // a step line of our own
        trace_.Collect();
    }
    std::vector<std::string> snapshotPaths;
    for (size_t i = 0; i < wideSources.size(); ++i)
        snapshotPaths.push_back(Utf8FromWide(buffers.get() + i * room));
    return snapshotPaths;
}

void Backup::Complete() {
    held_ = false;
    complete_.begun = TraceClock::now();
    int result = agent_.VssBackupComplete();
    complete_.ended = TraceClock::now();
    completed_ = true;
    std::string report = trace_.Collect();
    if (result != QUORLIN_RESULT_OK)
        throw DiagnoseFailure("complete the backup and delete its snapshots", result, report);
}

std::string Backup::SetId() const {
    const VSS_ID id = agent_.SnapshotSetId();
    char text[40];
    std::snprintf(text, sizeof text, "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  static_cast<unsigned long>(id.Data1), static_cast<unsigned>(id.Data2),
                  static_cast<unsigned>(id.Data3), id.Data4[0], id.Data4[1], id.Data4[2],
                  id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6], id.Data4[7]);
    return text;
}

void Backup::ShowTimings() {
    if (!timings_ || !started_)
        return;
    std::string text =
        TimingsText(PhasesOf(trace_.Lines(), start_, completed_ ? &complete_ : nullptr));
    if (hasInstant_) {
        char line[96];
        std::snprintf(line, sizeof line, "quorlin: timings: %-22s %10.1f ms (", "snapshot window",
                      instant_.windowMilliseconds);
        text += line + InstantShape(instant_) + ")\n";
    }
    std::fflush(stdout);
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace qtool
