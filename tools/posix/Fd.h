// An owned file descriptor, closed when the owner goes.
#ifndef QUORLIN_TOOL_POSIX_FD_H
#define QUORLIN_TOOL_POSIX_FD_H

#include <unistd.h>

namespace qtool {

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(other.Release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset(int fd = -1) {
        if (fd_ >= 0)
            close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

}  // namespace qtool

#endif  // QUORLIN_TOOL_POSIX_FD_H
