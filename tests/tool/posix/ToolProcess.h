// Runs the built quorlin as a user would, with its output captured.
#ifndef QUORLIN_TESTS_TOOL_PROCESS_H
#define QUORLIN_TESTS_TOOL_PROCESS_H

#include <string>
#include <sys/types.h>
#include <vector>

namespace tooltest {

struct Outcome {
    int exitCode = -1;  // 128 + signal when a signal ended it
    std::string out;
    std::string err;
};

// How quorlin is started, where it differs from a plain start.
struct Launch {
    int out = -1;              // standard output: this descriptor instead of a file the test reads
    int err = -1;              // standard error, likewise
    std::vector<int> ignored;  // signals ignored when it starts, as nohup leaves them
    std::vector<std::string> runner;       // a program that runs quorlin (strace and its options)
    std::vector<std::string> environment;  // NAME=VALUE entries added to quorlin's
};

// A running quorlin, in a session of its own (no controlling terminal): standard input
// is a pipe the test writes to, the outputs go to temporary files.
class ToolProcess {
public:
    explicit ToolProcess(const std::vector<std::string>& arguments, const Launch& launch = {});
    ~ToolProcess();  // kills a process still running

    pid_t Pid() const { return pid_; }
    void WriteInput(const std::string& text);
    // Ends standard input.
    void CloseInput();
    // Waits up to `seconds` for standard output (with `fromError`: standard error) to hold
    // `count` lines; false on time-out.
    bool WaitForLines(int count, double seconds, bool fromError = false);
    // Waits for the end, killing the process after `seconds`.
    Outcome Wait(double seconds = 60);
    std::string Out() const;
    std::string Err() const;

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int outFile_ = -1;
    int errFile_ = -1;
};

// Runs quorlin to its end with standard input empty.
Outcome RunTool(const std::vector<std::string>& arguments, const Launch& launch = {});

// All that the descriptor `fd` holds, read from its start.
std::string ReadAll(int fd);
// Makes `ends` a pipe that is full and that no one reads: a write to ends[1] waits.
bool StalledPipe(int ends[2]);

// Runs a shell command line and returns its standard output; fails the test on a non-zero
// status.
std::string Shell(const std::string& commandLine);

}  // namespace tooltest

#endif  // QUORLIN_TESTS_TOOL_PROCESS_H
