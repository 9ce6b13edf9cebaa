#include "platform/posix/WriteWithoutPipeSignal.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <pthread.h>
#include <unistd.h>

namespace quorlin {

namespace {

// write(2) until every byte is written or one fails; 0 or the errno value of the failure.
int WriteAll(int fd, const char* bytes, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written > 0) {
            bytes += written;
            size -= static_cast<size_t>(written);
        } else if (written == 0) {
            return EIO;
        } else if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

}  // namespace

ssize_t WriteWithoutPipeSignal(int fd, const void* data, size_t size) {
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    sigset_t pending;
    const bool pendingBefore = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;

    const int error = WriteAll(fd, static_cast<const char*>(data), size);
    if (error == EPIPE && !pendingBefore) {
        const timespec now = {0, 0};
        while (sigtimedwait(&pipeSignal, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return error == 0 ? static_cast<ssize_t>(size) : -1;
}

}  // namespace quorlin
