// quorlin-writer-sqlite: a writer of the Quorlin snapshot service for SQLite databases.
// At `freeze` it takes each database's write lock and copies its write-ahead log into the
// database file, answers `frozen`, and holds until `thaw`: the snapshot then holds every
// database file complete, every transaction committed before the freeze in it.
#include "DatabaseList.h"
#include "DatabasePlace.h"
#include "SqliteDatabase.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace sqlitewriter {
namespace {

using Clock = std::chrono::steady_clock;

// The longest that databases which other connections hold (a user's own, say) keep one
// backup waiting, prepare and freeze together: the machine's snapshot-set lock is held
// meanwhile, and every other backup is refused, so the answer is "retry" after this, and
// the backup tries again later (quorlin --retry) with the lock let go in between.
const std::chrono::seconds kBusyLimit(5);
// Should the thaw not come (a host that hangs), the databases are let go after this.
const int kHoldLimitMs = 60000;

const char kUsage[] =
    "usage: quorlin-writer-sqlite\n"
    "A writer of the Quorlin snapshot service: link it into /etc/quorlin/writers.d. It holds\n"
    "the SQLite databases named in QUORLIN_SQLITE_DATABASES (paths separated by ':') or in\n"
    "/etc/quorlin/sqlite-writer.conf (one path a line) still while a snapshot is taken.\n";

void Answer(const std::string& line) {
    const std::string bytes = line + "\n";
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;  // the service is gone; the next read ends the writer
        done += static_cast<size_t>(written);
    }
}

enum class Read { kLine, kEnd, kTimeout };

// The next command from the service, waiting at most `timeoutMs` (-1: no limit).
Read NextCommand(std::string& pending, std::string& line, int timeoutMs) {
    for (;;) {
        const size_t newline = pending.find('\n');
        if (newline != std::string::npos) {
            line = pending.substr(0, newline);
            pending.erase(0, newline + 1);
            return Read::kLine;
        }
        pollfd input = {STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&input, 1, timeoutMs);
        if (ready == 0)
            return Read::kTimeout;
        if (ready < 0 && errno == EINTR)
            continue;
        char buffer[512];
        const ssize_t got = ready < 0 ? -1 : ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return Read::kEnd;
        pending.append(buffer, static_cast<size_t>(got));
    }
}

class Writer {
public:
    int Run() {
        std::string listError;
        const bool listed = ReadDatabaseList(paths_, listError);
        std::string pending, command;
        int timeoutMs = -1;
        for (;;) {
            const Read read = NextCommand(pending, command, timeoutMs);
            if (read == Read::kEnd)
                break;
            if (read == Read::kTimeout) {
                ReleaseAll();  // never hold an application for longer than that
                releasedEarly_ = true;
                timeoutMs = -1;
                continue;
            }
            if (!command.empty() && command.back() == '\r')
                command.pop_back();
            if (command == "abort")
                break;
            if (!listed && command.compare(0, 8, "identify") == 0)
                Answer("error " + listError);
            else
                Handle(command);
            timeoutMs = Holding() ? kHoldLimitMs : -1;
        }
        ReleaseAll();
        return 0;
    }

private:
    void Handle(const std::string& command) {
        if (command.compare(0, 9, "identify ") == 0) {
            if (command != "identify 1")
                return Answer("error protocol version " + command.substr(9) + " is not supported");
            Answer("name sqlite");
            for (const std::string& path : paths_)
                Answer("path " + path);
            return Answer("ready");
        }
        if (command.compare(0, 8, "prepare ") == 0)
            return Prepare();
        if (command == "freeze")
            return Freeze();
        if (command == "thaw") {
            ReleaseAll();
            if (releasedEarly_)
                return Answer("error the thaw came after " + std::to_string(kHoldLimitMs / 1000) +
                              " s; the databases were let go before it");
            return Answer("thawed");
        }
        if (command.compare(0, 9, "complete ") == 0)
            return Answer("completed");
        Answer("error unknown command " + command.substr(0, 40));
    }

    // Opens the databases that exist, in places where root may open them: the set holds
    // their volumes.
    void Prepare() {
        databases_.clear();
        const Clock::time_point started = Clock::now();
        const Clock::time_point deadline = started + busyLeft_;
        for (const std::string& path : paths_) {
            std::string why;
            const Place place = CheckDatabasePlace(path, why);
            if (place == Place::kMissing) {
                std::fprintf(stderr, "%s does not exist: nothing to hold\n", path.c_str());
                continue;
            }
            if (place == Place::kRefused) {
                databases_.clear();
                return Answer("error " + why);
            }
            databases_.emplace_back(path);
            std::string error;
            bool busy = false;
            if (!databases_.back().Open(deadline, error, busy)) {
                databases_.clear();
                return Answer((busy ? "retry " : "error ") + error + Waited(busy));
            }
        }
        Spent(started);
        Answer("prepared");
    }

    void Freeze() {
        releasedEarly_ = false;
        const Clock::time_point started = Clock::now();
        const Clock::time_point deadline = started + busyLeft_;
        for (SqliteDatabase& database : databases_) {
            std::string error;
            bool busy = false;
            if (!database.Freeze(deadline, error, busy)) {
                ReleaseAll();
                return Answer((busy ? "retry " : "error ") + error + Waited(busy));
            }
        }
        Spent(started);
        Answer("frozen");
    }

    // Takes the time since `started` off what is left to wait.
    void Spent(Clock::time_point started) {
        const auto spent = Clock::now() - started;
        busyLeft_ = spent < busyLeft_
                        ? std::chrono::duration_cast<std::chrono::milliseconds>(busyLeft_ - spent)
                        : std::chrono::milliseconds(0);
    }

    static std::string Waited(bool busy) {
        return busy ? " (given up after " + std::to_string(kBusyLimit.count()) +
                          " s, so as not to hold up other backups)"
                    : std::string();
    }

    bool Holding() const {
        for (const SqliteDatabase& database : databases_)
            if (database.Holding())
                return true;
        return false;
    }

    void ReleaseAll() {
        for (SqliteDatabase& database : databases_)
            database.Release();
    }

    std::vector<std::string> paths_;
    std::vector<SqliteDatabase> databases_;
    bool releasedEarly_ = false;
    std::chrono::milliseconds busyLeft_ = kBusyLimit;  // of this backup's wait for others
};

}  // namespace
}  // namespace sqlitewriter

int main(int argc, char** argv) {
    if (argc > 1) {
        const bool help = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
        std::fputs(sqlitewriter::kUsage, help ? stdout : stderr);
        return help && argc == 2 ? 0 : 2;
    }
    try {
        return sqlitewriter::Writer().Run();
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "quorlin-writer-sqlite: %s\n", failure.what());
        return 1;
    }
}
