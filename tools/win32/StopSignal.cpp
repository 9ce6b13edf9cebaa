#include "StopSignal.h"

#include "Failure.h"
#include "win32/StopEvent.h"

#include <memory>
#include <thread>

namespace qtool {
namespace {

HANDLE g_stop = nullptr;     // set by the first stop request
HANDLE g_handled = nullptr;  // set once the command has cleaned up

BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            SetEvent(g_stop);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            // Windows ends the process when this returns: wait for the clean-up first.
            SetEvent(g_stop);
            WaitForSingleObject(g_handled, INFINITE);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

HANDLE StopEvent() { return g_stop; }

void InstallStopHandlers() {
    if (g_stop != nullptr)
        return;
    g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_handled = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (g_stop == nullptr || g_handled == nullptr || !SetConsoleCtrlHandler(OnConsoleEvent, TRUE))
        throw Failure(kExitFailed, "could not catch Ctrl-C; try again");
}

bool StopRequested() {
    return g_stop != nullptr && WaitForSingleObject(g_stop, 0) == WAIT_OBJECT_0;
}

void WaitForEnterOrStop() {
    HANDLE made = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (made == nullptr) {
        WaitForSingleObject(g_stop, INFINITE);
        return;
    }
    // The wait and the reader share the event: whichever ends last closes it.
    std::shared_ptr<void> enter(made, CloseHandle);
    // A blocking read of standard input cannot be waited for with the stop event, so a
    // thread reads it; it ends with the process when no line comes.
    std::thread([enter] {
        HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
        char byte = 0;
        DWORD count = 0;
        while (ReadFile(input, &byte, 1, &count, nullptr) && count == 1) {
            if (byte == '\n') {
                SetEvent(enter.get());
                return;
            }
        }
    }).detach();
    HANDLE events[2] = {g_stop, enter.get()};
    WaitForMultipleObjects(2, events, FALSE, INFINITE);
}

void StopHandled() {
    if (g_handled != nullptr)
        SetEvent(g_handled);
}

}  // namespace qtool
