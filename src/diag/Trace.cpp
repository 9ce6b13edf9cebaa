#include "diag/Trace.h"

#include "agent/Options.h"
#include "diag/Exceptions.h"
#include "diag/SystemErrorText.h"
#include "platform/Platform.h"
#include "text/Conversion.h"
#include "text/Format.h"

namespace quorlin {

void Trace(const wchar_t* text, int level) {
    if (g_traceLevel >= level)
        TraceLine(text);
}

void TraceDetail(const wchar_t* text) { Trace(text, TRACE_LEVEL_DETAIL); }

void TraceLine(const wchar_t* text) {
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
        ThrowQuorlinFailure(FormatText(L"Unable to write to the console. %s.", {system}));
    }
}

}  // namespace quorlin
