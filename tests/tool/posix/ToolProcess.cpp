#include "ToolProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tooltest {
namespace {

int UnnamedFile() {
    char name[] = "/tmp/quorlin-tool-test-XXXXXX";
    int fd = mkstemp(name);
    unlink(name);
    return fd;
}

}  // namespace

std::string ReadAll(int fd) {
    std::string text;
    char buffer[65536];
    ssize_t n;
    off_t at = 0;
    while ((n = pread(fd, buffer, sizeof buffer, at)) > 0) {
        text.append(buffer, static_cast<size_t>(n));
        at += n;
    }
    return text;
}

bool StalledPipe(int ends[2]) {
    if (pipe(ends) != 0 || fcntl(ends[1], F_SETFL, O_NONBLOCK) != 0)
        return false;
    char block[4096] = {};
    while (write(ends[1], block, sizeof block) > 0) {
    }
    return fcntl(ends[1], F_SETFL, 0) == 0;
}

ToolProcess::ToolProcess(const std::vector<std::string>& arguments, const Launch& launch) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return;
    outFile_ = UnnamedFile();
    errFile_ = UnnamedFile();
    pid_ = fork();
    if (pid_ == 0) {
        setsid();
        dup2(pipeEnds[0], 0);
        dup2(launch.out >= 0 ? launch.out : outFile_, 1);
        dup2(launch.err >= 0 ? launch.err : errFile_, 2);
        close(pipeEnds[1]);
        std::signal(SIGPIPE, SIG_DFL);  // whatever the test process does with it
        for (int signal : launch.ignored)
            std::signal(signal, SIG_IGN);
        for (const std::string& entry : launch.environment)
            putenv(strdup(entry.c_str()));
        std::vector<std::string> words = launch.runner;
        words.push_back(QUORLIN_TOOL_PROGRAM);
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(&word[0]);
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(126);
    }
    close(pipeEnds[0]);
    input_ = pipeEnds[1];
}

ToolProcess::~ToolProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {input_, outFile_, errFile_})
        if (fd >= 0)
            close(fd);
}

void ToolProcess::WriteInput(const std::string& text) {
    ASSERT_EQ(write(input_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

void ToolProcess::CloseInput() {
    close(input_);
    input_ = -1;
}

std::string ToolProcess::Out() const { return ReadAll(outFile_); }
std::string ToolProcess::Err() const { return ReadAll(errFile_); }

bool ToolProcess::WaitForLines(int count, double seconds, bool fromError) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        std::string out = fromError ? Err() : Out();
        if (std::count(out.begin(), out.end(), '\n') >= count)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

Outcome ToolProcess::Wait(double seconds) {
    Outcome outcome;
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            ADD_FAILURE() << "quorlin did not end within " << seconds << " s";
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.out = ReadAll(outFile_);
    outcome.err = ReadAll(errFile_);
    return outcome;
}

Outcome RunTool(const std::vector<std::string>& arguments, const Launch& launch) {
    ToolProcess process(arguments, launch);
    process.CloseInput();
    return process.Wait();
}

std::string Shell(const std::string& commandLine) {
    std::string out;
    FILE* pipe = popen(commandLine.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run: " << commandLine;
        return out;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    int status = pclose(pipe);
    EXPECT_EQ(status, 0) << commandLine;
    return out;
}

}  // namespace tooltest
