// A write of a whole buffer that a vanished reader fails with EPIPE instead of ending
// the process.
#ifndef QUORLIN_PLATFORM_POSIX_WRITE_WITHOUT_PIPE_SIGNAL_H
#define QUORLIN_PLATFORM_POSIX_WRITE_WITHOUT_PIPE_SIGNAL_H

#include <cstddef>
#include <sys/types.h>

namespace quorlin {

// Writes all `size` bytes with write(2), with SIGPIPE blocked on the calling thread
// meanwhile: a write that a signal interrupts (EINTR) is made again, and one that wrote
// part of the bytes goes on with the rest. Returns `size`, or -1 with errno set when a
// write fails (what was written before stays written; a write that takes nothing fails
// with EIO). When a write fails with EPIPE, the SIGPIPE that it raised is taken back,
// unless one was already pending before (that one belongs to someone else and stays
// pending).
ssize_t WriteWithoutPipeSignal(int fd, const void* data, size_t size);

}  // namespace quorlin

#endif
