#include "StopSignal.h"

#include "Failure.h"
#include "posix/Wakeup.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace qtool {
namespace {

volatile std::sig_atomic_t g_stopSignal = 0;
// While a command runs in the terminal's foreground, Ctrl-C is the command's to act on.
volatile std::sig_atomic_t g_interruptsForCommand = 0;
int g_wakeup[2] = {-1, -1};
sigset_t g_ignoredHere;  // signals that quorlin ignores and a command should not

void Wake() {
    int saved = errno;
    char byte = 1;
    (void)!write(g_wakeup[1], &byte, 1);
    errno = saved;
}

void OnStop(int signal) {
    if (g_stopSignal == 0 && !(signal == SIGINT && g_interruptsForCommand))
        g_stopSignal = signal;
    Wake();
}

void OnChild(int) { Wake(); }

// Handles `signal` with `handler` (SIG_IGN: ignores it), unless `keepIgnored` and the
// signal was ignored when quorlin started (as nohup leaves SIGHUP): that stays so.
// True when the disposition changed.
bool Catch(int signal, void (*handler)(int), bool keepIgnored) {
    struct sigaction action;
    struct sigaction before;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = signal == SIGCHLD ? SA_NOCLDSTOP | SA_RESTART : 0;
    if (sigaction(signal, nullptr, &before) != 0 || (keepIgnored && before.sa_handler == SIG_IGN) ||
        (handler == SIG_IGN && before.sa_handler == SIG_IGN))
        return false;
    if (sigaction(signal, &action, nullptr) != 0)
        throw Failure(kExitFailed, std::string("could not catch signals (") + std::strerror(errno) +
                                       "); try again");
    return true;
}

}  // namespace

void InstallStopHandlers() {
    if (g_wakeup[0] >= 0)
        return;
    if (pipe2(g_wakeup, O_CLOEXEC | O_NONBLOCK) != 0)
        throw Failure(kExitFailed, std::string("could not create a pipe (") + std::strerror(errno) +
                                       "); try again");
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        Catch(signal, OnStop, true);
    Catch(SIGCHLD, OnChild, false);
    // A closed output is an error that the command reports, after the backup is complete.
    sigemptyset(&g_ignoredHere);
    if (Catch(SIGPIPE, SIG_IGN, true))
        sigaddset(&g_ignoredHere, SIGPIPE);
}

const sigset_t& SignalsIgnoredHere() { return g_ignoredHere; }

void LeaveInterruptsToCommand(bool leave) { g_interruptsForCommand = leave ? 1 : 0; }

bool StopRequested() { return g_stopSignal != 0; }

int StopSignalNumber() { return g_stopSignal; }

int WakeupDescriptor() { return g_wakeup[0]; }

void DrainWakeup() {
    char bytes[64];
    while (read(g_wakeup[0], bytes, sizeof bytes) > 0) {
    }
}

void WaitForEnterOrStop() {
    bool inputOpen = true;
    while (!StopRequested()) {
        struct pollfd watched[2] = {{WakeupDescriptor(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (poll(watched, inputOpen ? 2 : 1, -1) < 0 && errno != EINTR)
            return;
        DrainWakeup();
        if (inputOpen && (watched[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) {
            char bytes[256];
            ssize_t n = read(STDIN_FILENO, bytes, sizeof bytes);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                inputOpen = false;
                continue;
            }
            if (std::memchr(bytes, '\n', static_cast<size_t>(n)) != nullptr)
                return;
        }
    }
}

void StopHandled() {}

}  // namespace qtool
