// One backup through the library's C interface, as every host makes it: settings, one
// start call for the paths, and completion; a failure comes back with what the library
// recorded for it.
#ifndef QUORLIN_TOOL_BACKUP_H
#define QUORLIN_TOOL_BACKUP_H

#include "Com.h"
#include "Quorlin.h"
#include "TraceRelay.h"
#include "quorlin/quorlin.h"

#include "Failure.h"

#include <mutex>
#include <string>
#include <vector>

namespace qtool {

struct BackupOptions {
    int verbosity = 0;         // how often -v was given
    bool incremental = false;  // --incremental
    bool withWriters = true;   // false with --no-writers (one path only)
    int timeoutSeconds = 600;  // --timeout: limit of each step of the snapshot; 0: none
    int retries = 0;           // --retry N: tries after a retryable refusal (Retry.h)
    bool timings = false;      // --timings: one line per phase on standard error at the end
};

class Backup {
public:
    explicit Backup(const BackupOptions& options);
    // Completes a backup still held, ignoring the outcome (the snapshots are deleted).
    ~Backup();
    Backup(const Backup&) = delete;
    Backup& operator=(const Backup&) = delete;

    // Takes one snapshot set for `sources` (UTF-8 paths) and returns, for each, its path
    // inside the snapshot. Throws Failure with the library's result as its exit code.
    std::vector<std::string> Start(const std::vector<std::string>& sources);
    // Ends the held backup and deletes its snapshots. Throws Failure.
    void Complete();
    // The snapshot set of the last start call, "8-4-4-4-12" hexadecimal digits.
    std::string SetId() const;
    // What the held set is, once a start call has succeeded (null when the library cannot
    // tell).
    const _Quorlin_Set_Instant* Instant() const { return hasInstant_ ? &instant_ : nullptr; }

private:
    int StartOne(const std::vector<std::wstring>& sources);
    // The failure of the last call, which ended with `result`, for `action`.
    Failure Diagnosed(const std::string& action, int result) const;
    // Under --timings, the phases of the calls made, on standard error.
    void ShowTimings();
    // The library's phase callback: keeps the event with the time it arrived.
    static void QUORLIN_CALL Mark(void* context, int phase);

    // Declared in the order they must come up; the agent goes first at the end.
    ComScope com_;
    TraceRelay trace_;
    quorlin_agent* agent_;
    bool withWriters_;
    int retries_;
    bool timings_;
    bool stepsShown_;
    bool held_ = false;
    bool hasInstant_ = false;
    _Quorlin_Set_Instant instant_ = {};
    bool started_ = false;    // a start call was made
    bool completed_ = false;  // and a completion call after it
    CallSpan start_;
    CallSpan complete_;
    std::mutex marksMutex_;  // the events come from the library's threads as well
    std::vector<PhaseMark> marks_;
};

}  // namespace qtool

#endif  // QUORLIN_TOOL_BACKUP_H
