// One command to several writers at once, and the wait for their answers: what they say,
// what they write on standard error (traced), and how they fail.
#ifndef QUORLIN_PLATFORM_POSIX_WRITERS_WRITER_EXCHANGE_H
#define QUORLIN_PLATFORM_POSIX_WRITERS_WRITER_EXCHANGE_H

#include "QuorlinTypes.h"
#include "platform/posix/writers/Cancellation.h"
#include "platform/posix/writers/Writer.h"

#include <chrono>
#include <string>
#include <vector>

namespace quorlin {

using WriterClock = std::chrono::steady_clock;

// Why a writer failed: the VSS writer error that fails the set, and the reason in words.
struct WriterFailure {
    Writer* writer = nullptr;
    HRESULT code = S_OK;
    std::string reason;
};

// The hold of a freeze: once the first writer has answered `frozen` (at `firstFrozen`,
// set by the exchange), the others have `limit` from then.
struct HoldBound {
    std::chrono::milliseconds limit{0};
    WriterClock::time_point firstFrozen{};
};

enum class ExchangeEnd { kAnswered, kFailed, kCancelled };

// Sends the command of `phase` (CommandLine(phase, flag)) to each of `writers`, then
// reads until each has given its closing answer (kAnswered), one has failed (kFailed, with
// `failure`; the others' answers are left unread), `bound` or the hold has passed
// (kFailed with VSS_E_WRITERERROR_TIMEOUT), or `cancel` fires (kCancelled). Identify
// answers fill each writer's name and paths. Writes a step line for each command and
// closing answer; a writer's standard error is traced at the service's step level.
ExchangeEnd Exchange(WriterPhase phase, bool flag, const std::vector<Writer*>& writers,
                     std::chrono::milliseconds bound, HoldBound* hold, const Cancellation& cancel,
                     WriterFailure& failure);

// "60 s" or "250 ms".
std::string DurationText(std::chrono::milliseconds duration);

// Writes a trace line at `level`; a line that cannot be written is dropped.
void TraceWriterLine(const std::string& line, int level);

}  // namespace quorlin

#endif
