#include "ChildProcess.h"

#include "Failure.h"
#include "StopSignal.h"
#include "Text.h"
#include "posix/Wakeup.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qtool {
namespace {

// The process's environment with `additions` put in and the variables of `withoutPrefixes`
// left out, as NAME=VALUE entries.
std::vector<std::string> MergedEnvironment(const Environment& additions,
                                           const std::vector<std::string>& withoutPrefixes) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text = *entry;
        std::string name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const auto& addition : additions)
            replaced = replaced || addition.first == name;
        for (const std::string& prefix : withoutPrefixes)
            replaced = replaced || name.compare(0, prefix.size(), prefix) == 0;
        if (!replaced)
            entries.push_back(text);
    }
    for (const auto& addition : additions)
        entries.push_back(addition.first + "=" + addition.second);
    return entries;
}

std::vector<char*> PointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts)
        pointers.push_back(&text[0]);
    pointers.push_back(nullptr);
    return pointers;
}

// Whether quorlin runs in the foreground of its controlling terminal.
bool InTerminalForeground() {
    int terminal = open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0)
        return false;
    bool foreground = tcgetpgrp(terminal) == getpgrp();
    close(terminal);
    return foreground;
}

pid_t Spawn(std::vector<std::string> arguments, const Environment& additions,
            const std::vector<std::string>& withoutPrefixes, bool ownGroup) {
    std::vector<std::string> environment = MergedEnvironment(additions, withoutPrefixes);
    std::vector<char*> argv = PointersTo(arguments);
    std::vector<char*> envp = PointersTo(environment);
    // The signals caught here start with their default disposition (exec sees to that),
    // those ignored here get theirs back, and those ignored before quorlin stay ignored.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setsigdefault(&attributes, &SignalsIgnoredHere());
    short flags = POSIX_SPAWN_SETSIGDEF;
    if (ownGroup) {
        posix_spawnattr_setpgroup(&attributes, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    posix_spawnattr_setflags(&attributes, flags);
    pid_t pid = 0;
    int error = posix_spawnp(&pid, argv[0], nullptr, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    if (error != 0)
        throw Failure(kExitCannotRun, "could not run " + QuotedName(arguments[0]) + " (" +
                                          std::strerror(error) +
                                          "); check the command's name and PATH");
    return pid;
}

int StatusOf(int waitStatus) {
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return 128 + WTERMSIG(waitStatus);
    return kExitFailed;
}

}  // namespace

int RunCommand(const std::vector<std::string>& arguments, const Environment& environment,
               const std::vector<std::string>& withoutPrefixes) {
    // In the terminal's foreground the command shares quorlin's process group, so that
    // the terminal (its input, Ctrl-C, Ctrl-Z) reaches it as if it ran alone, and Ctrl-C
    // is its to act on. Elsewhere it gets a group of its own, which a stop ends whole.
    bool interactive = InTerminalForeground();
    LeaveInterruptsToCommand(interactive);  // before the command can see a Ctrl-C
    pid_t pid;
    try {
        pid = Spawn(arguments, environment, withoutPrefixes, !interactive);
    } catch (...) {
        LeaveInterruptsToCommand(false);
        throw;
    }
    pid_t stopped = interactive ? pid : -pid;
    using Clock = std::chrono::steady_clock;
    Clock::time_point killAt = Clock::time_point::max();
    bool passedOn = false;
    for (;;) {
        int status = 0;
        pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid || (ended < 0 && errno != EINTR)) {
            LeaveInterruptsToCommand(false);
            return ended == pid ? StatusOf(status) : kExitFailed;
        }
        if (StopRequested() && !passedOn) {
            kill(stopped, StopSignalNumber());
            passedOn = true;
            killAt = Clock::now() + kCommandStopGrace;
        }
        int timeout = -1;
        if (killAt != Clock::time_point::max()) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(killAt - Clock::now());
            if (left.count() <= 0) {
                kill(stopped, SIGKILL);
                killAt = Clock::time_point::max();
            } else {
                timeout = static_cast<int>(left.count());
            }
        }
        // A signal handler writes to the pipe, so a stop or the child's end cannot be missed.
        struct pollfd wakeup = {WakeupDescriptor(), POLLIN, 0};
        poll(&wakeup, 1, timeout);
        DrainWakeup();
    }
}

}  // namespace qtool
