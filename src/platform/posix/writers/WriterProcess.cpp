#include "platform/posix/writers/WriterProcess.h"

#include "platform/posix/WriteWithoutPipeSignal.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quorlin {

namespace {

// The descriptors that the child arranges: its three pipes, the program, the exec report.
enum ChildFd { kInput = 0, kOutput = 1, kErrors = 2, kProgram = 3, kReport = 4, kChildFds = 5 };
// Where the child parks its descriptors while it arranges them.
const int kParking = 16;
// How long a killed process may take to be gone.
const int kKilledWaitMs = 1000;

int MakePipe(UniqueFd& readEnd, UniqueFd& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return errno;
    readEnd.Reset(fds[0]);
    writeEnd.Reset(fds[1]);
    return 0;
}

int SetNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 ? 0 : errno;
}

// In the child between fork and exec: async-signal-safe calls only. Never returns.
[[noreturn]] void RunChild(const int (&fds)[kChildFds], bool script, char* const argv[],
                           char* const envp[]) {
    int parked[kChildFds];
    for (int i = 0; i < kChildFds; ++i)
        parked[i] = ::fcntl(fds[i], F_DUPFD_CLOEXEC, kParking);
    int error = 0;
    for (int i = 0; i < kChildFds && error == 0; ++i) {
        // The program stays open across exec only for a script: its interpreter opens it
        // as /dev/fd/3. The report pipe closes at exec, which tells the parent it worked.
        const bool keep = i < kProgram || (i == kProgram && script);
        if (parked[i] < 0 || ::dup3(parked[i], i, keep ? 0 : O_CLOEXEC) != i)
            error = errno != 0 ? errno : EBADF;
    }
    const bool arranged = error == 0;
    if (arranged) {
        ::syscall(SYS_close_range, kChildFds, ~0U, 0);  // the parked copies too
        ::setpgid(0, 0);
        struct sigaction defaults = {};
        defaults.sa_handler = SIG_DFL;
        for (int signal = 1; signal < NSIG; ++signal)
            ::sigaction(signal, &defaults, nullptr);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (::chdir("/") != 0)
            error = errno;
    }
    if (error == 0) {
        ::syscall(SYS_execveat, kProgram, "", argv, envp, AT_EMPTY_PATH);
        error = errno;
    }
    (void)!::write(arranged ? kReport : parked[kReport], &error, sizeof error);
    ::_exit(127);
}

}  // namespace

WriterProcess::~WriterProcess() {
    if (Started() && !reaped_)
        End(std::chrono::milliseconds(0));
}

int WriterProcess::Start(const WriterProgram& program,
                         const std::vector<std::string>& environment) {
    UniqueFd childInput, childOutput, childErrors, reportRead, reportWrite;
    int error = MakePipe(childInput, input_);
    if (error == 0)
        error = MakePipe(output_, childOutput);
    if (error == 0)
        error = MakePipe(errors_, childErrors);
    if (error == 0)
        error = MakePipe(reportRead, reportWrite);
    for (int fd : {input_.Get(), output_.Get(), errors_.Get()})
        if (error == 0)
            error = SetNonBlocking(fd);
    if (error != 0)
        return error;

    std::string name = program.name;
    std::vector<char*> argv = {&name[0], nullptr};
    std::vector<std::string> entries = environment;
    std::vector<char*> envp;
    for (std::string& entry : entries)
        envp.push_back(&entry[0]);
    envp.push_back(nullptr);
    const int fds[kChildFds] = {childInput.Get(), childOutput.Get(), childErrors.Get(),
                                program.file.Get(), reportWrite.Get()};

    const pid_t pid = ::fork();
    if (pid < 0)
        return errno;
    if (pid == 0)
        RunChild(fds, program.script, argv.data(), envp.data());
    pid_ = pid;
    ::setpgid(pid, pid);  // also here, so that the group exists whichever runs first
    exit_.Reset(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    reportWrite.Reset();
    int childError = 0;
    ssize_t got;
    while ((got = ::read(reportRead.Get(), &childError, sizeof childError)) < 0 && errno == EINTR) {
    }
    if (got == static_cast<ssize_t>(sizeof childError)) {
        End(std::chrono::milliseconds(0));
        return childError != 0 ? childError : ENOEXEC;
    }
    return 0;
}

bool WriterProcess::Send(const std::string& line) {
    if (!input_.Valid())
        return false;
    const std::string bytes = line + "\n";
    const ssize_t written = WriteWithoutPipeSignal(input_.Get(), bytes.data(), bytes.size());
    return written == static_cast<ssize_t>(bytes.size());
}

void WriterProcess::CloseInput() { input_.Reset(); }

bool WriterProcess::Read(int fd, std::string& bytes) {
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            bytes.append(buffer, static_cast<size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && errno == EAGAIN)
            return true;
        (fd == output_.Get() ? output_ : errors_).Reset();
        return false;
    }
}

bool WriterProcess::Exited(std::chrono::milliseconds wait) const {
    if (reaped_)
        return true;
    pollfd exit = {exit_.Get(), POLLIN, 0};
    return exit_.Valid() && ::poll(&exit, 1, static_cast<int>(wait.count())) == 1;
}

void WriterProcess::KillGroup() {
    // Its process id names its group only while it is ours, running or not yet reaped.
    siginfo_t info = {};
    if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0)
        ::kill(-pid_, SIGKILL);
}

void WriterProcess::End(std::chrono::milliseconds wait) {
    if (!Started() || reaped_)
        return;
    input_.Reset();
    pollfd exit = {exit_.Get(), POLLIN, 0};
    if (exit_.Valid())
        while (::poll(&exit, 1, static_cast<int>(wait.count())) < 0 && errno == EINTR) {
        }
    KillGroup();
    if (exit_.Valid())
        ::poll(&exit, 1, kKilledWaitMs);
    int status = 0;
    pid_t got;
    while ((got = ::waitpid(pid_, &status, exit_.Valid() ? WNOHANG : 0)) < 0 && errno == EINTR) {
    }
    if (got == pid_ || (got < 0 && errno == ECHILD)) {
        reaped_ = true;
        status_ = got == pid_ ? status : 0;
    }
    output_.Reset();
    errors_.Reset();
}

std::string WriterProcess::EndText() const {
    if (!reaped_)
        return "did not end when killed";
    if (WIFSIGNALED(status_))
        return "was killed by signal " + std::to_string(WTERMSIG(status_));
    return "exited with status " + std::to_string(WEXITSTATUS(status_));
}

}  // namespace quorlin
