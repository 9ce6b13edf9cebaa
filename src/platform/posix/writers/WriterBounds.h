// How long the service waits for its writers, as VSS bounds its own: 60 s to freeze, at
// most 10 s between the first writer's `frozen` and the thaw. The other answers get a
// generous limit too, and a writer that was told to go has a little while to end before
// it is killed. A components object takes its bounds when it is made (tests shorten them).
#ifndef QUORLIN_PLATFORM_POSIX_WRITERS_WRITER_BOUNDS_H
#define QUORLIN_PLATFORM_POSIX_WRITERS_WRITER_BOUNDS_H

#include <chrono>

namespace quorlin {

struct WriterBounds {
    // identify, prepare, thaw and complete: from the command to its closing answer
    std::chrono::milliseconds answer{60000};
    // freeze: from the command to `frozen`
    std::chrono::milliseconds freeze{60000};
    // from the first `frozen` of a set to the thaw of every writer
    std::chrono::milliseconds hold{10000};
    // from the end of its input to its exit; then its process group is killed
    std::chrono::milliseconds exit{3000};
};

}  // namespace quorlin

#endif
