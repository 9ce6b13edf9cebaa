#include "ChildProcess.h"

#include "Failure.h"
#include "StopSignal.h"
#include "posix/Wakeup.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qtool {
namespace {

// The process's environment with `additions` put in, as NAME=VALUE entries.
std::vector<std::string> MergedEnvironment(const Environment& additions) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text = *entry;
        std::string name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const auto& addition : additions)
            replaced = replaced || addition.first == name;
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

pid_t Spawn(std::vector<std::string> arguments, const Environment& additions) {
    std::vector<std::string> environment = MergedEnvironment(additions);
    std::vector<char*> argv = PointersTo(arguments);
    std::vector<char*> envp = PointersTo(environment);
    // The child starts with the default disposition of the signals caught here.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGCHLD})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    int error = posix_spawnp(&pid, argv[0], nullptr, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    if (error != 0)
        throw Failure(kExitCannotRun, "could not run \"" + arguments[0] + "\" (" +
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

int RunCommand(const std::vector<std::string>& arguments, const Environment& environment) {
    pid_t pid = Spawn(arguments, environment);
    bool passedOn = false;
    for (;;) {
        int status = 0;
        pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid)
            return StatusOf(status);
        if (ended < 0 && errno != EINTR)
            return kExitFailed;
        if (StopRequested() && !passedOn) {
            kill(pid, StopSignalNumber());
            passedOn = true;
        }
        // A signal handler writes to the pipe, so a stop or the child's end cannot be missed.
        struct pollfd wakeup = {WakeupDescriptor(), POLLIN, 0};
        poll(&wakeup, 1, -1);
        DrainWakeup();
    }
}

}  // namespace qtool
