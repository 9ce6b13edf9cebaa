#include "Backup.h"

#include "Architecture.h"
#include "Diagnosis.h"
#include "Retry.h"
#include "SetInstant.h"
#include "Text.h"

#include <cstdio>
#include <new>

namespace qtool {
namespace {

const int kTraceResults = 2;  // failure reports
const int kTraceSteps = 6;    // every step as well, the snapshot service's own included

// Whether the library traces every step: for -vv.
bool TracesSteps(const BackupOptions& options) { return options.verbosity > 1; }

std::string ActionFor(const std::vector<std::string>& sources) {
    if (sources.size() == 1)
        return "take a snapshot of " + FieldForLine(sources[0]);
    return "take a snapshot of the " + std::to_string(sources.size()) + " paths";
}

}  // namespace

Backup::Backup(const BackupOptions& options)
    : trace_(options.verbosity > 0 ? stderr : nullptr, TracesSteps(options)),
      agent_(quorlin_agent_new()),
      withWriters_(options.withWriters),
      retries_(options.retries),
      timings_(options.timings),
      stepsShown_(options.verbosity > 1) {
    if (agent_ == nullptr)
        throw std::bad_alloc();
    // The report line of a failure is always traced, so that the command can show it
    // under -v; the trace is shown, as it is written, only then.
    quorlin_set_backup_type(agent_,
                            options.incremental ? QUORLIN_BACKUP_INCREMENTAL : QUORLIN_BACKUP_FULL);
    quorlin_set_verbosity(agent_, TracesSteps(options) ? kTraceSteps : kTraceResults);
    quorlin_set_trace_console(agent_, trace_.Console());
    quorlin_set_timeout(agent_, options.timeoutSeconds * 1000);
    if (timings_)
        quorlin_set_phase_callback(agent_, &Backup::Mark, this);
}

void QUORLIN_CALL Backup::Mark(void* context, int phase) {
    Backup& backup = *static_cast<Backup*>(context);
    const TraceClock::time_point now = TraceClock::now();
    try {
        std::lock_guard<std::mutex> lock(backup.marksMutex_);
        backup.marks_.push_back({phase, now});
    } catch (...) {
        // Out of memory: the phase goes unmarked.
    }
}

Backup::~Backup() {
    if (held_) {
        complete_.begun = TraceClock::now();
        quorlin_complete(agent_);
        complete_.ended = TraceClock::now();
        completed_ = true;
        trace_.Collect();
    }
    if (timings_)
        quorlin_set_phase_callback(agent_, nullptr, nullptr);
    ShowTimings();
    // The trace console is the library's and outlives this object: nothing may be written
    // to it once the relay has closed it.
    quorlin_set_verbosity(agent_, 0);
    quorlin_set_trace_console(agent_, nullptr);
    quorlin_agent_free(agent_);
}

int Backup::StartOne(const std::vector<std::wstring>& sources) {
    if (sources.size() > 1) {
        std::vector<const wchar_t*> pointers;
        for (const std::wstring& source : sources)
            pointers.push_back(source.c_str());
        return quorlin_start_multi_w(agent_, pointers.data(), pointers.size(), nullptr, nullptr,
                                     nullptr);
    }
    if (withWriters_)
        return quorlin_start_w(agent_, sources[0].c_str(), nullptr, 0, nullptr);
    return quorlin_start_no_writers_w(agent_, sources[0].c_str(), nullptr, 0, nullptr);
}

Failure Backup::Diagnosed(const std::string& action, int result) const {
    LibraryFailure failure;
    failure.result = result;
    failure.code = quorlin_last_error_code(agent_);
    failure.site = quorlin_last_error_site(agent_);
    failure.report = quorlin_last_report(agent_);
    failure.explanation = quorlin_last_explanation(agent_);
    return DiagnoseFailure(action, failure);
}

std::vector<std::string> Backup::Start(const std::vector<std::string>& sources) {
    CheckArchitectureServed(ActionFor(sources).c_str());
    std::vector<std::wstring> wideSources;
    for (const std::string& source : sources)
        wideSources.push_back(WideFromUtf8(source));
    int result = QUORLIN_OK;
    int tries = 0;
    // The start phase of --timings spans every try, the waits between them included.
    started_ = true;
    start_.begun = TraceClock::now();
    do {
        result = StartOne(wideSources);
        start_.ended = TraceClock::now();
        trace_.Collect();
        ++tries;
    } while (result != QUORLIN_OK &&
             WaitToRetry(tries, retries_, result, quorlin_last_error_code(agent_),
                         quorlin_last_explanation(agent_)));
    if (result != QUORLIN_OK)
        throw Diagnosed(
            ActionFor(sources) + (tries > 1 ? " in " + std::to_string(tries) + " tries" : ""),
            result);
    held_ = true;
    quorlin_set_instant set = {};
    hasInstant_ = quorlin_describe_set(agent_, &set) == QUORLIN_OK;
    if (hasInstant_) {
        instant_.fileSystems = set.file_systems;
        instant_.oneTransaction = set.one_transaction;
        instant_.wholeSet = set.whole_set;
        instant_.tries = set.tries;
        instant_.windowMilliseconds = set.window_ms;
    }
    if (hasInstant_ && stepsShown_) {
        trace_.Insert("Snapshot set: " + InstantText(instant_));  // a step line of our own
        trace_.Collect();
    }
    std::vector<std::string> snapshotPaths;
    for (size_t i = 0; i < wideSources.size(); ++i) {
        size_t needed = 0;
        quorlin_snapshot_path_w(agent_, i, nullptr, 0, &needed);
        std::vector<wchar_t> path(needed + 1, L'\0');
        if (quorlin_snapshot_path_w(agent_, i, path.data(), path.size(), &needed) != QUORLIN_OK)
            throw Diagnosed("read the snapshot path of " + FieldForLine(sources[i]),
                            QUORLIN_FAILED);
        snapshotPaths.push_back(Utf8FromWide(path.data()));
    }
    return snapshotPaths;
}

void Backup::Complete() {
    held_ = false;
    complete_.begun = TraceClock::now();
    int result = quorlin_complete(agent_);
    complete_.ended = TraceClock::now();
    completed_ = true;
    trace_.Collect();
    if (result != QUORLIN_OK)
        throw Diagnosed("complete the backup and delete its snapshots", result);
}

std::string Backup::SetId() const {
    char id[40] = "";
    quorlin_set_id(agent_, id, sizeof id);
    return id;
}

void Backup::ShowTimings() {
    if (!timings_ || !started_)
        return;
    std::string text = TimingsText(PhasesOf(marks_, start_, completed_ ? &complete_ : nullptr));
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
