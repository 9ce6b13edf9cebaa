#include "diag/Trace.h"

#include "diag/TraceOptions.h"
#include "diag/Exceptions.h"
#include "diag/SystemErrorText.h"
#include "platform/Platform.h"
#include "text/Conversion.h"
#include "text/Format.h"

#include <memory>
#include <mutex>
#include <utility>

namespace quorlin {

namespace {

thread_local TraceObserver* t_observer = nullptr;

std::mutex g_sinkMutex;
std::shared_ptr<const TraceLineSink> g_sink;  // guarded by g_sinkMutex

std::shared_ptr<const PhaseSink> g_phaseSink;  // guarded by g_sinkMutex

// The sink of the moment; it stays alive while in use even if it is replaced.
std::shared_ptr<const TraceLineSink> CurrentSink() {
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    return g_sink;
}

}  // namespace

TraceObserver::TraceObserver() noexcept : previous_(t_observer) { t_observer = this; }

TraceObserver::~TraceObserver() { t_observer = previous_; }

void SetTraceLineSink(TraceLineSink sink) {
    std::shared_ptr<const TraceLineSink> installed;
    if (sink)
        installed = std::make_shared<const TraceLineSink>(std::move(sink));
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    g_sink.swap(installed);
}

void SetPhaseSink(PhaseSink sink) {
    std::shared_ptr<const PhaseSink> installed;
    if (sink)
        installed = std::make_shared<const PhaseSink>(std::move(sink));
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    g_phaseSink.swap(installed);
}

void MarkPhase(Phase phase) noexcept {
    std::shared_ptr<const PhaseSink> sink;
    {
        std::lock_guard<std::mutex> lock(g_sinkMutex);
        sink = g_phaseSink;
    }
    if (sink)
        (*sink)(phase);
}

void Trace(const wchar_t* text, int level) {
    if (t_observer != nullptr)
        t_observer->Observe(text, level);
    if (g_traceLevel >= level)
        TraceLine(text);
}

void TraceFailure(const std::wstring& text, const FailureFacts& facts, int level) {
    if (t_observer != nullptr) {
        t_observer->Observe(text.c_str(), level);
        t_observer->ObserveFailure(facts, level);
    }
    if (g_traceLevel >= level)
        TraceLine(text.c_str());
}

void TraceDetail(const wchar_t* text) { Trace(text, TRACE_LEVEL_DETAIL); }

void TraceLine(const wchar_t* text) {
    if (const std::shared_ptr<const TraceLineSink> sink = CurrentSink())
        (*sink)(text);
    TraceText(text);
    TraceText(L"\r\n");
}

void TraceText(const wchar_t* text) {
    Host& host = GetHost();
    host.OutputDebugText(text);
    HANDLE console = g_traceConsole;
    if (console == nullptr)
        return;

    bool written = true;
    uint32_t error = 0;
    {
        // Only the bytes the conversion produced are written; a text that yields
        // no bytes (empty, or not representable one byte per unit) writes nothing.
        OemText oem = ToOemText(text);
        if (oem.bytes) {
            written = host.WriteFile(console, oem.bytes.get(), static_cast<uint32_t>(oem.size));
            if (!written)
                error = host.GetLastError();
        }
    }
    if (!written) {
        std::wstring system;
        GetSystemErrorText(error, system);
        ThrowQuorlinFailure(FormatText(L"Unable to write to the console. %s.", {system}),
                            {FailureKind::kConsoleWrite, error, 0, {}});
    }
}

}  // namespace quorlin
