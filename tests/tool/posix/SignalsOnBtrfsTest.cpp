// quorlin and the signals and outputs around it: however a command, a signal or an output
// behaves, the backup completes and the snapshot goes.
#include "ToolOnBtrfs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tooltest {
namespace {

// A pipe whose reading end is closed: writing to it fails with EPIPE.
int ClosedOutput() {
    int ends[2];
    if (pipe(ends) != 0)
        return -1;
    close(ends[0]);
    return ends[1];
}

// Whether the process `pid` is gone (or a zombie that nobody waits for).
bool Gone(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string number, name, state;
    return !(stat >> number >> name >> state) || state == "Z";
}

TEST_F(ToolOnBtrfs, CommandThatIgnoresTheStopIsKilledWithItsGroupAfterTheGracePeriod) {
    const std::string file = Volume() + "/stubborn.txt";
    Write(file, "stubborn");
    ToolProcess tool({"snapshot", file, "--", "sh", "-c",
                      "trap '' TERM; sleep 300 & echo $!; wait; wait; echo survived"});
    ASSERT_TRUE(tool.WaitForLines(1, 10)) << tool.Out();
    pid_t sleeper = std::stoi(tool.Out());
    auto start = std::chrono::steady_clock::now();
    kill(tool.Pid(), SIGTERM);
    Outcome outcome = tool.Wait(40);
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(outcome.exitCode, 130) << outcome.err;
    EXPECT_GE(waited, 9.5) << "killed before the grace period was over";
    EXPECT_EQ(outcome.out.find("survived"), std::string::npos);
    for (int i = 0; i < 200 && !Gone(sleeper); ++i)
        usleep(10000);
    EXPECT_TRUE(Gone(sleeper)) << "the command's own child still runs";
}

// What the terminal `master` shows until `text` shows, for up to `seconds`.
std::string ShownUntil(int master, const std::string& text, double seconds) {
    std::string shown;
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (shown.find(text) == std::string::npos && std::chrono::steady_clock::now() < end) {
        struct pollfd ready = {master, POLLIN, 0};
        char buffer[256];
        ssize_t n;
        if (poll(&ready, 1, 50) > 0 && (n = read(master, buffer, sizeof buffer)) > 0)
            shown.append(buffer, static_cast<size_t>(n));
    }
    return shown;
}

// In the foreground of a terminal the command has the terminal as it would without
// quorlin: it reads from it, and Ctrl-C is its to act on (here to ignore).
TEST_F(ToolOnBtrfs, CommandInTheForegroundOfATerminalHasTheTerminal) {
    const std::string file = Volume() + "/terminal.txt";
    Write(file, "terminal");
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    std::string terminal = ptsname(master);
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        int slave = open(terminal.c_str(), O_RDWR);  // the session's controlling terminal
        for (int fd : {0, 1, 2})
            dup2(slave, fd);
        execl(QUORLIN_TOOL_PROGRAM, QUORLIN_TOOL_PROGRAM, "snapshot", file.c_str(), "--", "sh",
              "-c", "trap '' INT; echo ready; read line; echo \"got $line\"",
              static_cast<char*>(nullptr));
        _exit(126);
    }
    std::string shown = ShownUntil(master, "ready", 10);
    EXPECT_NE(shown.find(file + "\t"), std::string::npos) << shown;  // standard error's line
    usleep(200000);
    ASSERT_EQ(write(master, "\x03", 1), 1);  // Ctrl-C
    usleep(200000);
    ASSERT_EQ(write(master, "hello\n", 6), 6);
    shown = ShownUntil(master, "got hello", 10);
    EXPECT_NE(shown.find("got hello"), std::string::npos) << shown;
    int status = -1;
    for (int i = 0; i < 1000 && waitpid(pid, &status, WNOHANG) == 0; ++i)
        usleep(10000);
    if (!WIFEXITED(status)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    close(master);
}

// A closed output that the snapshot paths go to is a failure, but the backup still
// completes (TearDown counts the snapshots); a closed standard error costs only the trace
// (and beside a command the snapshot lines); the command's standard output is its own.
TEST_F(ToolOnBtrfs, ClosedOutputIsAFailureThatStillCompletesTheBackup) {
    const std::string file = Volume() + "/closed.txt";
    Write(file, "closed");
    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        bool outClosed;
        bool errClosed;
        int exitCode;
        const char* sentence;  // where the paths could not be written, if so
    };
    const std::vector<Case> cases = {
        {"standard output", {"snapshot", file}, true, false, 1, "standard output"},
        {"both, under -v (quorlin -v ... 2>&1 | head)",
         {"-v", "snapshot", file},
         true,
         true,
         1,
         nullptr},
        {"standard error, under -vv",
         {"-vv", "snapshot", file, "--", "true"},
         false,
         true,
         0,
         nullptr},
        {"the command's standard output",
         {"snapshot", file, "--", "true"},
         true,
         false,
         0,
         nullptr},
        {"the descriptor named for the paths",
         {"snapshot", "--output-fd", "1", file, "--", "true"},
         true,
         false,
         1,
         "descriptor 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Launch launch;
        launch.out = c.outClosed ? ClosedOutput() : -1;
        launch.err = c.errClosed ? ClosedOutput() : -1;
        Outcome outcome = RunTool(c.arguments, launch);
        EXPECT_EQ(outcome.exitCode, c.exitCode) << outcome.err;
        if (c.sentence != nullptr) {
            EXPECT_EQ(outcome.err, std::string("quorlin: could not write the snapshot paths to ") +
                                       c.sentence +
                                       " (Broken pipe); the snapshots were deleted; check where "
                                       "the output goes.\n");
        } else if (!c.errClosed) {
            EXPECT_EQ(SnapshotPaths(outcome.err).size(), 1u) << outcome.err;
        }
        for (int fd : {launch.out, launch.err})
            if (fd >= 0)
                close(fd);
    }
}

// nohup leaves SIGHUP ignored: quorlin leaves it so, and so does its command; a signal
// that quorlin ignores itself (SIGPIPE) is the default again in the command.
TEST_F(ToolOnBtrfs, SignalsIgnoredAtTheStartStayIgnored) {
    const std::string file = Volume() + "/nohup.txt";
    Write(file, "nohup");
    for (bool ignored : {false, true}) {
        SCOPED_TRACE(ignored ? "SIGHUP ignored" : "nothing ignored");
        Launch launch;
        if (ignored)
            launch.ignored = {SIGHUP};
        Outcome outcome = RunTool({"snapshot", file, "--", "sh", "-c",
                                   "sed -n 's/^SigIgn:\\t//p' /proc/self/status; kill -HUP $PPID; "
                                   "sleep 1; echo alive"},
                                  launch);
        std::string out = outcome.out;
        unsigned long long mask = std::stoull(out.substr(0, out.find('\n')), nullptr, 16);
        EXPECT_EQ((mask >> (SIGHUP - 1)) & 1, ignored ? 1u : 0u) << out;
        EXPECT_EQ((mask >> (SIGPIPE - 1)) & 1, 0u) << out;
        EXPECT_EQ(outcome.exitCode, ignored ? 0 : 130) << outcome.err;
        EXPECT_EQ(out.find("alive") != std::string::npos, ignored) << out;
    }
}

// Standard error that takes nothing (a full pipe that no one reads) holds up neither the
// library's trace nor the backup.
TEST_F(ToolOnBtrfs, StalledStandardErrorDoesNotHoldUpTheBackup) {
    const std::string file = Volume() + "/stalled.txt";
    Write(file, "stalled");
    int ends[2];
    ASSERT_TRUE(StalledPipe(ends));
    Launch launch;
    launch.err = ends[1];
    Outcome outcome = RunTool({"-vv", "snapshot", file, "--", "cat", "{}"}, launch);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.out, "stalled");
    close(ends[0]);
    close(ends[1]);
}

// A newline, a tab or a backslash in a path cannot break the PATH<TAB>SNAPSHOT-PATH line:
// such a path is quoted as C quotes a string. The command gets the path itself.
TEST_F(ToolOnBtrfs, PathsWithNewlinesAndTabsAreQuotedInTheOutput) {
    const std::string file = Volume() + "/new\nline\tand\\back";
    Write(file, "odd");
    Outcome outcome = RunTool({"snapshot", file, "--", "cat", "{}"});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    const std::string name = "/new\\nline\\tand\\\\back\"";
    size_t end = outcome.err.find('\n');
    ASSERT_NE(end, std::string::npos);
    std::string line = outcome.err.substr(0, end);
    EXPECT_EQ(line.rfind("\"" + Volume() + name + "\t\"", 0), 0u) << line;
    ASSERT_GT(line.size(), name.size());
    EXPECT_EQ(line.substr(line.size() - name.size()), name) << line;
    EXPECT_EQ(outcome.out, "odd");
}

}  // namespace
}  // namespace tooltest
