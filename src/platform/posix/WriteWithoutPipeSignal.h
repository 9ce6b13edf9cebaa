// A write that a vanished reader fails with EPIPE instead of ending the process.
#ifndef QUORLIN_PLATFORM_POSIX_WRITE_WITHOUT_PIPE_SIGNAL_H
#define QUORLIN_PLATFORM_POSIX_WRITE_WITHOUT_PIPE_SIGNAL_H

#include <cstddef>
#include <sys/types.h>

namespace quorlin {

// write(2) with SIGPIPE blocked on the calling thread for the call. When the write
// fails with EPIPE, the SIGPIPE that it raised is taken back, unless one was already
// pending before (that one belongs to someone else and stays pending). The result
// and errno are write's own.
ssize_t WriteWithoutPipeSignal(int fd, const void* data, size_t size);

}  // namespace quorlin

#endif
