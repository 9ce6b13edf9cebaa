// One SQLite database that the writer holds still while a snapshot is taken.
#ifndef QUORLIN_TOOLS_WRITERS_SQLITE_DATABASE_H
#define QUORLIN_TOOLS_WRITERS_SQLITE_DATABASE_H

#include <chrono>
#include <string>

struct sqlite3;

namespace sqlitewriter {

class SqliteDatabase {
public:
    explicit SqliteDatabase(std::string path) : path_(std::move(path)) {}
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;
    SqliteDatabase(SqliteDatabase&& other) noexcept;
    ~SqliteDatabase();

    const std::string& Path() const { return path_; }

    // Opens the database's two connections: one that takes the write lock, one that copies
    // the write-ahead log into the database file while the first holds it. Never creates a
    // database, and follows no link in its path. Waits for other connections until
    // `deadline` at most. False with `error` set (and `busy` when another connection held
    // the database) on failure.
    bool Open(std::chrono::steady_clock::time_point deadline, std::string& error, bool& busy);

    // Takes the write lock (BEGIN IMMEDIATE), so that no transaction commits until Release,
    // and leaves the database file complete: every committed transaction is in it, none is
    // only in the write-ahead log. Gives up at `deadline`. False with `error` set (and
    // `busy` when another connection held the database all along) and nothing held.
    bool Freeze(std::chrono::steady_clock::time_point deadline, std::string& error, bool& busy);
    // Lets the lock go (ROLLBACK: the transaction wrote nothing).
    void Release();
    bool Holding() const { return holding_; }

private:
    std::string path_;
    sqlite3* lock_ = nullptr;        // takes the write lock
    sqlite3* checkpoint_ = nullptr;  // checkpoints while the lock is held
    bool holding_ = false;
};

}  // namespace sqlitewriter

#endif
