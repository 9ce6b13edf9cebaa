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
int g_wakeup[2] = {-1, -1};

void Wake() {
    int saved = errno;
    char byte = 1;
    (void)!write(g_wakeup[1], &byte, 1);
    errno = saved;
}

void OnStop(int signal) {
    if (g_stopSignal == 0)
        g_stopSignal = signal;
    Wake();
}

void OnChild(int) { Wake(); }

void Catch(int signal, void (*handler)(int)) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = signal == SIGCHLD ? SA_NOCLDSTOP | SA_RESTART : 0;
    if (sigaction(signal, &action, nullptr) != 0)
        throw Failure(kExitFailed, std::string("could not catch signals (") + std::strerror(errno) +
                                       "); try again");
}

}  // namespace

void InstallStopHandlers() {
    if (g_wakeup[0] >= 0)
        return;
    if (pipe2(g_wakeup, O_CLOEXEC | O_NONBLOCK) != 0)
        throw Failure(kExitFailed, std::string("could not create a pipe (") + std::strerror(errno) +
                                       "); try again");
    Catch(SIGINT, OnStop);
    Catch(SIGTERM, OnStop);
    Catch(SIGHUP, OnStop);
    Catch(SIGCHLD, OnChild);
}

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
