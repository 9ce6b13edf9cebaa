// The workload that shows whether a snapshot set is one instant: a process writes a counter
// into a file on each of N volumes in order, over and over (n on the first, n on the
// second, ..., then n + 1 on the first), as an application keeps dependent data on several
// volumes (a database and its log). A set "shows a state that never existed" when a later
// volume holds a newer counter than an earlier one, or two differ by more than one.
#ifndef QUORLIN_TESTS_POSIX_ORDERED_WRITER_H
#define QUORLIN_TESTS_POSIX_ORDERED_WRITER_H

#include <string>
#include <sys/types.h>
#include <vector>

namespace quorlin {
namespace testing {

// The name of the counter file in each folder.
extern const char kCounterFile[];

class OrderedWriter {
public:
    // Starts the writer over `folders` (each on its own volume); with `synced`, each write is
    // fdatasync'ed before the next (as a database commits). Returns once every folder holds
    // a counter.
    OrderedWriter(const std::vector<std::string>& folders, bool synced);
    // Kills it.
    ~OrderedWriter();
    OrderedWriter(const OrderedWriter&) = delete;
    OrderedWriter& operator=(const OrderedWriter&) = delete;

    bool Running() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

// The counter in the file `path`; -1 when it cannot be read.
long ReadCounter(const std::string& path);

// Whether `counters`, read in the writer's order, show a state that existed.
bool StateExisted(const std::vector<long>& counters);

}  // namespace testing
}  // namespace quorlin

#endif
