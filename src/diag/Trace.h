// The trace facility: lines to the debugger output and, when the host has set
// one, to its console handle in the OEM code page, filtered by verbosity.
#ifndef QUORLIN_DIAG_TRACE_H
#define QUORLIN_DIAG_TRACE_H

#include "diag/FailureFacts.h"

#include <functional>
#include <string>

namespace quorlin {

// The workflows' levels, and above them those of the snapshot service's own lines (the
// btrfs service and its writers on Linux), so that verbosity 2 and 4 give the workflows'
// lines and nothing else.
enum {
    TRACE_LEVEL_RESULT = 2,          // outcome lines: failure reports, the completion's success
    TRACE_LEVEL_DETAIL = 4,          // step lines, and the reasons of refusals
    TRACE_LEVEL_SERVICE_RESULT = 5,  // the service's own reports: a writer failed or refused
    TRACE_LEVEL_SERVICE_DETAIL = 6   // the service's steps: each writer command and answer, ...
};

// Emits `text` as one line when the verbosity is at least `level`.
void Trace(const wchar_t* text, int level);
inline void Trace(const std::wstring& text, int level) { Trace(text.c_str(), level); }
// Traces the line that tells of a failure (a report line at TRACE_LEVEL_RESULT, or a
// refusal's step line at TRACE_LEVEL_DETAIL) as Trace does, and hands the observer its
// facts with it. The observer has both even when the console refuses the line.
void TraceFailure(const std::wstring& text, const FailureFacts& facts,
                  int level = TRACE_LEVEL_RESULT);
// A step line: Trace(text, TRACE_LEVEL_DETAIL).
void TraceDetail(const wchar_t* text);
inline void TraceDetail(const std::wstring& text) { TraceDetail(text.c_str()); }
// The text, then "\r\n"; no level test.
void TraceLine(const wchar_t* text);
// Sends the text to the debugger and the console; no level test, no line end.
// Throws a new CQuorlinException when the console refuses the write.
void TraceText(const wchar_t* text);

// Receives every line that the verbosity lets through, as it is written, without
// its line end. One per process (like the console), replaced or removed (empty) at
// any time from any thread; it must not throw. The C interface routes it to a host.
using TraceLineSink = std::function<void(const wchar_t* line)>;
void SetTraceLineSink(TraceLineSink sink);

// Where a backup's time goes, as events rather than lines: each phase as it begins (the
// workflows' steps), and each writer's freeze sent, freeze answered and thaw answered
// (the btrfs service's writers), whatever the verbosity. The values are the C
// interface's QUORLIN_PHASE_*.
enum class Phase : int {
    kGatherWriters = 1,
    kAddVolumes = 2,
    kPrepare = 3,
    kSnapshot = 4,
    kSnapshotPaths = 5,
    kComplete = 6,
    kWriterFreezeSent = 7,
    kWriterFrozen = 8,
    kWriterThawed = 9
};
// Receives every phase event as it happens, on the thread that meets it (the snapshot
// service's writer events come from a thread of its own); one per process, replaced or
// removed (empty) at any time from any thread; it must not throw.
using PhaseSink = std::function<void(Phase phase)>;
void SetPhaseSink(PhaseSink sink);
// Hands `phase` to the sink, if there is one.
void MarkPhase(Phase phase) noexcept;

// Sees every line traced on the constructing thread while it lives, whatever the
// verbosity, with the line's level, and the facts of each line that tells of a failure
// (TraceFailure) right after the line. Observers nest: the newest sees the lines.
class TraceObserver {
public:
    TraceObserver(const TraceObserver&) = delete;
    TraceObserver& operator=(const TraceObserver&) = delete;
    virtual void Observe(const wchar_t* text, int level) noexcept = 0;
    virtual void ObserveFailure(const FailureFacts& /*facts*/, int /*level*/) noexcept {}

protected:
    TraceObserver() noexcept;
    ~TraceObserver();

private:
    TraceObserver* previous_;
};

}  // namespace quorlin

#endif
