#include "platform/posix/writers/WriterSession.h"

#include "diag/Trace.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorlin {

namespace {

using std::chrono::milliseconds;

const char kSearchPath[] = "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
const char kOwnPrefix[] = "QUORLIN_";

// A clean environment: the usual search path and the host's QUORLIN_ variables (such as
// QUORLIN_SQLITE_DATABASES), unless the host runs set-user-ID, where they are the user's.
std::vector<std::string> WriterEnvironment() {
    std::vector<std::string> environment = {kSearchPath};
    if (::getauxval(AT_SECURE) == 0)
        for (char** entry = environ; *entry != nullptr; ++entry)
            if (std::strncmp(*entry, kOwnPrefix, sizeof kOwnPrefix - 1) == 0)
                environment.push_back(*entry);
    return environment;
}

// The device of what is at `path`, or at its nearest ancestor that exists.
bool DeviceOf(std::string path, dev_t& device) {
    for (;;) {
        struct stat status;
        if (::stat(path.c_str(), &status) == 0) {
            device = status.st_dev;
            return true;
        }
        if ((errno != ENOENT && errno != ENOTDIR) || path == "/")
            return false;
        const size_t slash = path.find_last_of('/');
        path = slash == 0 ? "/" : path.substr(0, slash);
    }
}

bool OnVolumes(const Writer& writer, const std::vector<dev_t>& volumes) {
    return std::any_of(writer.paths.begin(), writer.paths.end(), [&](const std::string& path) {
        dev_t device = 0;
        return DeviceOf(path, device) &&
               std::find(volumes.begin(), volumes.end(), device) != volumes.end();
    });
}

milliseconds Left(WriterClock::time_point deadline) {
    return std::max(milliseconds(0),
                    std::chrono::duration_cast<milliseconds>(deadline - WriterClock::now()));
}

}  // namespace

HRESULT WriterSession::Start(std::vector<WriterProgram> programs, const Cancellation& cancel) {
    if (programs.empty())
        return S_OK;
    const std::vector<std::string> environment = WriterEnvironment();
    std::vector<Writer*> started;
    for (WriterProgram& program : programs) {
        writers_.emplace_back();
        Writer& writer = writers_.back();
        writer.name = program.name;
        writer.program = std::move(program);
        const int error = writer.process.Start(writer.program, environment);
        writer.program.file.Reset();  // the process has its own copy
        if (error != 0) {
            const char* text = strerrordesc_np(error);
            return Failed(writer, WriterPhase::kIdentify, VSS_E_WRITERERROR_NONRETRYABLE,
                          std::string("it could not be started: ") + (text ? text : "?"));
        }
        TraceWriterLine("Writer " + writer.name + ": started " + writer.program.path +
                            " as process " + std::to_string(writer.process.Pid()),
                        TRACE_LEVEL_SERVICE_DETAIL);
        started.push_back(&writer);
    }
    return Run(WriterPhase::kIdentify, false, started, bounds_.answer, nullptr, cancel);
}

HRESULT WriterSession::Prepare(const std::vector<dev_t>& volumes, bool incremental,
                               const Cancellation& cancel) {
    prepared_ = true;
    std::vector<Writer*> taking;
    std::vector<Writer*> dismissed;
    for (Writer& writer : writers_) {
        if (writer.failed || writer.process.Ended())
            continue;
        writer.takingPart = OnVolumes(writer, volumes);
        if (writer.takingPart) {
            taking.push_back(&writer);
            continue;
        }
        TraceWriterLine("Writer " + writer.name +
                            ": not involved, none of its paths lies on a volume of the set",
                        TRACE_LEVEL_SERVICE_DETAIL);
        writer.process.CloseInput();
        dismissed.push_back(&writer);
    }
    const HRESULT hr =
        Run(WriterPhase::kPrepare, incremental, taking, bounds_.answer, nullptr, cancel);
    End(dismissed, false);
    return hr;
}

HRESULT WriterSession::Freeze(const Cancellation& cancel) {
    HoldBound hold;
    hold.limit = bounds_.hold;
    const HRESULT hr =
        Run(WriterPhase::kFreeze, false, TakingPart(), bounds_.freeze, &hold, cancel);
    // The hold is measured only when every writer froze: after a failure the set fails anyway.
    firstFrozen_ = hr == S_OK ? hold.firstFrozen : WriterClock::time_point{};
    return hr;
}

HRESULT WriterSession::Thaw(const Cancellation& cancel) {
    std::vector<Writer*> holding;
    for (Writer& writer : writers_)
        if (writer.holding && !writer.failed)
            holding.push_back(&writer);
    if (holding.empty())
        return S_OK;
    const bool froze = firstFrozen_ != WriterClock::time_point{};
    const milliseconds held =
        froze ? std::chrono::duration_cast<milliseconds>(WriterClock::now() - firstFrozen_)
              : milliseconds(0);
    const HRESULT hr = Run(WriterPhase::kThaw, false, holding, bounds_.answer, nullptr, cancel);
    if (hr != S_OK || held <= bounds_.hold)
        return hr;
    std::string names;
    for (const Writer* writer : holding)
        names += (names.empty() ? "" : ", ") + writer->name;
    TraceWriterLine("Writers " + names + " failed to thaw: they held for " +
                        std::to_string(held.count()) + " ms, longer than the " +
                        DurationText(bounds_.hold) + " allowed.",
                    TRACE_LEVEL_SERVICE_RESULT);
    return VSS_E_WRITERERROR_TIMEOUT;
}

HRESULT WriterSession::Complete(bool succeeded, const Cancellation& cancel) {
    const HRESULT hr =
        Run(WriterPhase::kComplete, succeeded, TakingPart(), bounds_.answer, nullptr, cancel);
    std::vector<Writer*> all;
    for (Writer& writer : writers_)
        all.push_back(&writer);
    End(all, false);
    return hr;
}

void WriterSession::Abort() {
    std::vector<Writer*> all;
    for (Writer& writer : writers_)
        all.push_back(&writer);
    End(all, true);
}

bool WriterSession::Running() const {
    return std::any_of(writers_.begin(), writers_.end(), [](const Writer& writer) {
        return writer.process.Started() && !writer.process.Ended();
    });
}

bool WriterSession::AnyTakingPart() const {
    return std::any_of(writers_.begin(), writers_.end(),
                       [](const Writer& writer) { return writer.takingPart && !writer.failed; });
}

std::vector<Writer*> WriterSession::TakingPart() {
    std::vector<Writer*> taking;
    for (Writer& writer : writers_)
        if (writer.takingPart && !writer.failed && !writer.process.Ended())
            taking.push_back(&writer);
    return taking;
}

HRESULT WriterSession::Run(WriterPhase phase, bool flag, const std::vector<Writer*>& writers,
                           milliseconds bound, HoldBound* hold, const Cancellation& cancel) {
    WriterFailure failure;
    switch (Exchange(phase, flag, writers, bound, hold, cancel, failure)) {
        case ExchangeEnd::kAnswered:
            return S_OK;
        case ExchangeEnd::kFailed:
            return Failed(*failure.writer, phase, failure.code, failure.reason);
        case ExchangeEnd::kCancelled:
            break;
    }
    TraceWriterLine(std::string("Writers: ") + PhaseName(phase) + " cancelled",
                    TRACE_LEVEL_SERVICE_DETAIL);
    Abort();
    return VSS_S_ASYNC_CANCELLED;
}

HRESULT WriterSession::Failed(Writer& writer, WriterPhase phase, HRESULT code,
                              const std::string& reason) {
    writer.failed = true;
    TraceWriterLine(
        "Writer " + writer.name + " failed to " + PhaseName(phase) + ": " + reason + ".",
        TRACE_LEVEL_SERVICE_RESULT);
    End({&writer}, true);
    return code;
}

void WriterSession::End(const std::vector<Writer*>& writers, bool sendAbort) {
    std::vector<Writer*> ending;
    for (Writer* writer : writers) {
        if (!writer->process.Started() || writer->process.Ended())
            continue;
        if (writer->holding) {
            TraceWriterLine("Writer " + writer->name + ": thaw", TRACE_LEVEL_SERVICE_DETAIL);
            writer->process.Send(CommandLine(WriterPhase::kThaw));
            writer->holding = false;
        }
        if (sendAbort && writer->process.Send(CommandLine(WriterPhase::kAbort)))
            TraceWriterLine("Writer " + writer->name + ": abort", TRACE_LEVEL_SERVICE_DETAIL);
        writer->process.CloseInput();
        ending.push_back(writer);
    }
    const WriterClock::time_point deadline = WriterClock::now() + bounds_.exit;
    for (Writer* writer : ending) {
        writer->process.End(Left(deadline));
        TraceWriterLine("Writer " + writer->name + ": " + writer->process.EndText(),
                        TRACE_LEVEL_SERVICE_DETAIL);
    }
}

}  // namespace quorlin
