// The process of one writer: started from the very file that was checked, in a process
// group of its own, with a clean environment and no descriptor of the host but its three
// pipes (standard input, output and error).
#ifndef QUORLIN_PLATFORM_POSIX_WRITERS_WRITER_PROCESS_H
#define QUORLIN_PLATFORM_POSIX_WRITERS_WRITER_PROCESS_H

#include "base/posix/UniqueFd.h"
#include "platform/posix/writers/WriterFolder.h"

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quorlin {

class WriterProcess {
public:
    WriterProcess() = default;
    WriterProcess(const WriterProcess&) = delete;
    WriterProcess& operator=(const WriterProcess&) = delete;
    // A process still running is killed with its group, and reaped when it ends at once.
    ~WriterProcess();

    // Runs `program` with `environment` (NAME=VALUE entries) and argv[0] its name. 0, or
    // the errno value of the failure (also of the execution itself); nothing runs then.
    int Start(const WriterProgram& program, const std::vector<std::string>& environment);
    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

    // Writes `line` and a line end without ever raising SIGPIPE. False when the writer does
    // not take it (it closed its input, or its pipe is full).
    bool Send(const std::string& line);
    // Its input ends: it reads end-of-file once it has read what was sent.
    void CloseInput();

    // Descriptors for poll(2): its output, its standard error (-1 once they ended), and one
    // that becomes readable when it exits.
    int OutputFd() const { return output_.Get(); }
    int ErrorFd() const { return errors_.Get(); }
    int ExitFd() const { return exit_.Get(); }
    // Reads what the descriptor (OutputFd or ErrorFd) holds now into `bytes`. False at its
    // end (or on a failure), after which the descriptor is closed.
    bool Read(int fd, std::string& bytes);

    // Whether it has exited, waiting at most `wait` for it.
    bool Exited(std::chrono::milliseconds wait = std::chrono::milliseconds(0)) const;
    // Waits until it exits or `wait` has passed, then kills what is left of its process
    // group and reaps it (waiting at most a second more for a killed process to end).
    void End(std::chrono::milliseconds wait);
    bool Ended() const { return reaped_; }
    // How it ended, for trace lines: "exited with status 3", "was killed by signal 9".
    std::string EndText() const;

private:
    void KillGroup();

    pid_t pid_ = -1;
    UniqueFd input_;
    UniqueFd output_;
    UniqueFd errors_;
    UniqueFd exit_;  // a pidfd
    bool reaped_ = false;
    int status_ = 0;  // its wait status once reaped
};

}  // namespace quorlin

#endif
