#include "posix/OrderedWriter.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace quorlin {
namespace testing {

const char kCounterFile[] = "counter";

namespace {

// Every counter is written in place with the same width, so a file always holds one whole.
const size_t kWidth = 20;

[[noreturn]] void Write(const std::vector<std::string>& folders, bool synced, int ready) {
    std::vector<int> fds;
    for (const std::string& folder : folders) {
        const int fd = ::open((folder + "/" + kCounterFile).c_str(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            ::_exit(1);
        fds.push_back(fd);
    }
    for (long n = 0;; ++n) {
        char text[kWidth + 1];
        std::snprintf(text, sizeof text, "%19ld\n", n);
        for (int fd : fds)
            if (::pwrite(fd, text, kWidth, 0) != static_cast<ssize_t>(kWidth) ||
                (synced && ::fdatasync(fd) != 0))
                ::_exit(1);
        if (n == 0) {
            (void)!::write(ready, "x", 1);
            ::close(ready);
        }
    }
}

}  // namespace

OrderedWriter::OrderedWriter(const std::vector<std::string>& folders, bool synced) {
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        return;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::close(ready[0]);
        Write(folders, synced, ready[1]);
    }
    ::close(ready[1]);
    char byte;
    if (pid_ > 0 && ::read(ready[0], &byte, 1) != 1) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    ::close(ready[0]);
}

OrderedWriter::~OrderedWriter() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

long ReadCounter(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char text[kWidth + 1] = {};
    const ssize_t n = ::read(fd, text, kWidth);
    ::close(fd);
    if (n != static_cast<ssize_t>(kWidth))
        return -1;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return end != text ? value : -1;
}

bool StateExisted(const std::vector<long>& counters) {
    for (size_t i = 0; i < counters.size(); ++i) {
        if (counters[i] < 0)
            return false;
        if (i > 0 && (counters[i] > counters[i - 1] || counters[0] - counters[i] > 1))
            return false;
    }
    return true;
}

}  // namespace testing
}  // namespace quorlin
