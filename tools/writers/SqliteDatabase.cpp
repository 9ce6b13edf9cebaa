#include "SqliteDatabase.h"

#include <sqlite3.h>

#include <algorithm>
#include <thread>
#include <utility>

namespace sqlitewriter {

namespace {

using Clock = std::chrono::steady_clock;

// Between checkpoint attempts while a reader keeps frames in the log.
const std::chrono::milliseconds kCheckpointPause(5);

int MillisecondsUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(0, std::min<long long>(left, 1 << 30)));
}

std::string Message(sqlite3* connection) {
    return connection != nullptr ? sqlite3_errmsg(connection) : "out of memory";
}

bool IsBusy(int rc) { return (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED; }

// Opens `path`, following no link in it (CheckDatabasePlace has refused the places where
// one could be swapped in), and waits for other connections until `deadline` at most.
bool OpenConnection(const std::string& path, Clock::time_point deadline, sqlite3*& connection,
                    std::string& error, bool& busy) {
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW;
    int rc = sqlite3_open_v2(path.c_str(), &connection, flags, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_busy_timeout(connection, MillisecondsUntil(deadline));
    // A statement that reads the schema: the file is a database, and its log is open.
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(connection, "PRAGMA schema_version", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        return true;
    busy = IsBusy(rc);
    error = "cannot open " + path + ": " + Message(connection);
    sqlite3_close(connection);
    connection = nullptr;
    return false;
}

}  // namespace

SqliteDatabase::SqliteDatabase(SqliteDatabase&& other) noexcept
    : path_(std::move(other.path_)),
      lock_(std::exchange(other.lock_, nullptr)),
      checkpoint_(std::exchange(other.checkpoint_, nullptr)),
      holding_(std::exchange(other.holding_, false)) {}

SqliteDatabase::~SqliteDatabase() {
    Release();
    sqlite3_close(checkpoint_);
    sqlite3_close(lock_);
}

bool SqliteDatabase::Open(Clock::time_point deadline, std::string& error, bool& busy) {
    busy = false;
    return OpenConnection(path_, deadline, lock_, error, busy) &&
           OpenConnection(path_, deadline, checkpoint_, error, busy);
}

bool SqliteDatabase::Freeze(Clock::time_point deadline, std::string& error, bool& busy) {
    busy = false;
    // Most of the log goes into the file before the lock, so that the hold is short and the
    // snapshot's copy of the log small. It may not get everything: that is for below.
    sqlite3_busy_timeout(lock_, MillisecondsUntil(deadline) / 3);
    sqlite3_exec(lock_, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);

    sqlite3_busy_timeout(lock_, MillisecondsUntil(deadline));
    const int rc = sqlite3_exec(lock_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        busy = IsBusy(rc);
        error = "cannot take the write lock of " + path_ + ": " + Message(lock_);
        return false;
    }
    holding_ = true;
    // Transactions committed between that checkpoint and the lock are only in the log. A
    // checkpoint needs no write lock, so the other connection copies them into the file
    // while this one keeps new ones out. A checkpoint within the lock's own connection is
    // refused (a transaction is open), and a TRUNCATE one would wait for the lock we hold.
    // A reader of an older state holds frames back for as long as it reads.
    for (;;) {
        int frames = 0;
        int copied = 0;
        const int checkpoint = sqlite3_wal_checkpoint_v2(
            checkpoint_, nullptr, SQLITE_CHECKPOINT_PASSIVE, &frames, &copied);
        if (checkpoint == SQLITE_OK && copied == frames)
            return true;  // also -1 and -1: the database has no write-ahead log
        const int primary = checkpoint & 0xFF;
        if (primary != SQLITE_OK && primary != SQLITE_BUSY && primary != SQLITE_LOCKED) {
            error = "cannot checkpoint " + path_ + ": " + Message(checkpoint_);
            Release();
            return false;
        }
        if (Clock::now() >= deadline) {
            busy = true;
            error = "readers kept " + std::to_string(frames - copied) + " frames of the log of " +
                    path_ + " from its file";
            Release();
            return false;
        }
        std::this_thread::sleep_for(kCheckpointPause);
    }
}

void SqliteDatabase::Release() {
    if (!holding_)
        return;
    sqlite3_exec(lock_, "ROLLBACK", nullptr, nullptr, nullptr);
    holding_ = false;
}

}  // namespace sqlitewriter
