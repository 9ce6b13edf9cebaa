#include "platform/posix/writers/WriterExchange.h"

#include "diag/Trace.h"
#include "platform/posix/Utf8.h"
#include "diag/CaughtFailure.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>

namespace quorlin {

namespace {

// Lines of one writer's standard error that are traced; the rest are dropped.
const int kTracedErrorLines = 100;
// How long a writer whose pipe closed may take to count as exited.
const std::chrono::milliseconds kExitingMs(200);
// Paths one writer may name.
const size_t kMaximumPaths = 1024;

using std::chrono::milliseconds;

milliseconds Since(WriterClock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(WriterClock::now() - start);
}

class ExchangeRun {
public:
    ExchangeRun(WriterPhase phase, WriterClock::time_point deadline, HoldBound* hold,
                WriterFailure& failure)
        : phase_(phase), deadline_(deadline), hold_(hold), failure_(failure) {}

    // Whether the writer took the command.
    bool Send(Writer& writer, bool flag) {
        TraceWriterLine("Writer " + writer.name + ": " + CommandLine(phase_, flag),
                        TRACE_LEVEL_SERVICE_DETAIL);
        if (phase_ == WriterPhase::kFreeze) {
            writer.holding = writer.freezeUnanswered = true;
            MarkPhase(Phase::kWriterFreezeSent);
        } else if (phase_ == WriterPhase::kThaw)
            writer.holding = false;
        if (writer.process.Send(CommandLine(phase_, flag)))
            return true;
        return Fail(writer, VSS_E_WRITERERROR_NONRETRYABLE, Gone(writer, "does not read"));
    }

    // Takes in what the writer's descriptors hold; false when it has failed.
    bool Take(Writer& writer, const pollfd* output, const pollfd* errors, const pollfd* exit,
              bool& answered) {
        if (errors != nullptr && errors->revents != 0)
            TraceErrors(writer);
        if (output != nullptr && output->revents != 0 && !ReadAnswers(writer, answered))
            return false;
        if (answered || exit == nullptr || exit->revents == 0)
            return true;
        // It exited: what it wrote before is still in the pipe.
        if (writer.process.OutputFd() >= 0 && !ReadAnswers(writer, answered))
            return false;
        return answered || Fail(writer, VSS_E_WRITERERROR_NONRETRYABLE, Gone(writer, ""));
    }

    // The moment the waiting ends, and whether that is the hold's limit.
    WriterClock::time_point Limit(bool& byHold) const {
        byHold = false;
        if (hold_ == nullptr || hold_->firstFrozen == WriterClock::time_point{})
            return deadline_;
        const WriterClock::time_point held = hold_->firstFrozen + hold_->limit;
        byHold = held < deadline_;
        return std::min(held, deadline_);
    }

    void TimeOut(Writer& writer, bool byHold, milliseconds bound) {
        Fail(writer, VSS_E_WRITERERROR_TIMEOUT,
             byHold ? "no answer within the " + DurationText(hold_->limit) +
                          " that writers may hold after the first one froze"
                    : "no answer within " + DurationText(bound));
    }

private:
    bool Fail(Writer& writer, HRESULT code, const std::string& reason) {
        failure_.writer = &writer;
        failure_.code = code;
        failure_.reason = reason;
        return false;
    }

    // Why a writer that stopped reading or writing is gone. A process that ends closes its
    // pipes a moment before it counts as exited.
    static std::string Gone(Writer& writer, const char* what) {
        if (writer.process.Exited(kExitingMs)) {
            writer.process.End(milliseconds(0));
            return "it " + writer.process.EndText();
        }
        return std::string("it ") + (*what != '\0' ? what : "closed") + " its " +
               (*what != '\0' ? "input" : "output");
    }

    bool ReadAnswers(Writer& writer, bool& answered) {
        std::string bytes;
        const bool open = writer.process.Read(writer.process.OutputFd(), bytes);
        writer.output.Append(bytes.data(), bytes.size());
        std::string line;
        bool tooLong = false;
        while (!answered && writer.output.Next(line, tooLong))
            if (!TakeAnswer(writer, line, tooLong, answered))
                return false;
        if (answered || open)
            return true;
        if (writer.output.Rest(line, tooLong) && !TakeAnswer(writer, line, tooLong, answered))
            return false;
        return answered || Fail(writer, VSS_E_WRITERERROR_NONRETRYABLE, Gone(writer, ""));
    }

    bool TakeAnswer(Writer& writer, const std::string& line, bool tooLong, bool& answered) {
        if (tooLong)
            return Fail(writer, VSS_E_WRITERERROR_NONRETRYABLE,
                        "it answered a line longer than " + std::to_string(kMaximumAnswerLength) +
                            " bytes");
        // A freeze that the service stopped waiting for may still be answered before the thaw.
        if (phase_ == WriterPhase::kThaw && writer.freezeUnanswered && line == "frozen") {
            writer.freezeUnanswered = false;
            return true;
        }
        const WriterAnswer answer = ParseAnswer(phase_, line);
        switch (answer.kind) {
            case WriterAnswer::kName:
                writer.name = answer.text;
                return true;
            case WriterAnswer::kPath:
                if (writer.paths.size() >= kMaximumPaths)
                    return Fail(writer, VSS_E_WRITERERROR_NONRETRYABLE,
                                "it named more than " + std::to_string(kMaximumPaths) + " paths");
                writer.paths.push_back(answer.text);
                return true;
            case WriterAnswer::kDone:
                answered = true;
                Answered(writer, line);
                return true;
            case WriterAnswer::kRetry:
                return Fail(writer, VSS_E_WRITERERROR_RETRYABLE, answer.text + " (retryable)");
            case WriterAnswer::kError:
                return Fail(writer, VSS_E_WRITERERROR_NONRETRYABLE, answer.text);
            case WriterAnswer::kMalformed:
                break;
        }
        return Fail(writer, VSS_E_WRITERERROR_NONRETRYABLE,
                    answer.text + " is not in the writer protocol");
    }

    void Answered(Writer& writer, const std::string& word) {
        if (phase_ == WriterPhase::kFreeze) {
            writer.freezeUnanswered = false;
            if (hold_ != nullptr && hold_->firstFrozen == WriterClock::time_point{})
                hold_->firstFrozen = WriterClock::now();
            MarkPhase(Phase::kWriterFrozen);
        } else if (phase_ == WriterPhase::kThaw) {
            MarkPhase(Phase::kWriterThawed);
        }
        TraceWriterLine(
            "Writer " + writer.name + ": " + word + " (" + DurationText(Since(started_)) + ")",
            TRACE_LEVEL_SERVICE_DETAIL);
    }

    static void TraceErrors(Writer& writer) {
        std::string bytes;
        writer.process.Read(writer.process.ErrorFd(), bytes);
        writer.errors.Append(bytes.data(), bytes.size());
        std::string line;
        bool tooLong = false;
        while (writer.errors.Next(line, tooLong)) {
            if (++writer.errorLines <= kTracedErrorLines)
                TraceWriterLine("Writer " + writer.name + " says: " + line,
                                TRACE_LEVEL_SERVICE_DETAIL);
        }
    }

    const WriterPhase phase_;
    const WriterClock::time_point deadline_;
    HoldBound* const hold_;
    WriterFailure& failure_;
    const WriterClock::time_point started_ = WriterClock::now();
};

}  // namespace

std::string DurationText(milliseconds duration) {
    const long long ms = duration.count();
    return ms >= 1000 && ms % 1000 == 0 ? std::to_string(ms / 1000) + " s"
                                        : std::to_string(ms) + " ms";
}

void TraceWriterLine(const std::string& line, int level) {
    RunDroppingFailures([&] { Trace(FromUtf8(line), level); });
}

ExchangeEnd Exchange(WriterPhase phase, bool flag, const std::vector<Writer*>& writers,
                     milliseconds bound, HoldBound* hold, const Cancellation& cancel,
                     WriterFailure& failure) {
    if (cancel.Fired())
        return ExchangeEnd::kCancelled;  // the session's abort thaws what holds
    ExchangeRun run(phase, WriterClock::now() + bound, hold, failure);
    std::vector<Writer*> waiting;
    for (Writer* writer : writers) {
        if (!run.Send(*writer, flag))
            return ExchangeEnd::kFailed;
        waiting.push_back(writer);
    }
    std::vector<pollfd> fds;
    while (!waiting.empty()) {
        if (cancel.Fired())
            return ExchangeEnd::kCancelled;
        bool byHold = false;
        const auto left =
            std::chrono::duration_cast<milliseconds>(run.Limit(byHold) - WriterClock::now());
        if (left.count() <= 0) {
            run.TimeOut(*waiting.front(), byHold, bound);
            return ExchangeEnd::kFailed;
        }
        // Three entries per writer (output, standard error, exit), then the cancellation.
        fds.clear();
        for (Writer* writer : waiting) {
            fds.push_back({writer->process.OutputFd(), POLLIN, 0});
            fds.push_back({writer->process.ErrorFd(), POLLIN, 0});
            fds.push_back({writer->process.ExitFd(), POLLIN, 0});
        }
        fds.push_back({cancel.Fd(), POLLIN, 0});
        // Rounded up, so that the wait does not spin in its last millisecond.
        const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(left.count()) + 1);
        if (ready <= 0)
            continue;  // EINTR, or the limit: the next round tells which
        for (size_t i = 0; i < waiting.size(); ++i) {
            const pollfd* entry = &fds[3 * i];
            bool answered = false;
            if (!run.Take(*waiting[i], entry, entry + 1, entry + 2, answered))
                return ExchangeEnd::kFailed;
            if (answered)
                waiting[i] = nullptr;
        }
        waiting.erase(std::remove(waiting.begin(), waiting.end(), nullptr), waiting.end());
    }
    return ExchangeEnd::kAnswered;
}

}  // namespace quorlin
