// Why writers matter, shown with the shipped SQLite writer and the built quorlin: a WAL
// database that a process keeps writing to is snapshotted and its database file copied
// alone, as a backup that takes the file would. With the writer the copy holds every row
// committed before the snapshot; without writers the rows still in the log are missing.
#include "BtrfsScratch.h"
#include "ToolOnBtrfs.h"
#include "ToolProcess.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tooltest {
namespace {

// Rows in the database file before the inserts begin; later rows stay in the log, as with
// an application whose checkpoints are rare.
const long kRowsInTheFile = 10;

bool Execute(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// One number that a query gives; -1 on failure.
long QueryNumber(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    long value = -1;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
        sqlite3_busy_timeout(db, 10000) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
        value = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return value;
}

std::string IntegrityOf(const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    std::string result = "cannot open";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
        result = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return result;
}

// A process that inserts rows, one transaction each, until it is stopped.
class Inserter {
public:
    explicit Inserter(const std::string& path) {
        sqlite3* db = nullptr;
        bool made = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                    Execute(db, "PRAGMA journal_mode=WAL") &&
                    Execute(db, "CREATE TABLE rows(id INTEGER PRIMARY KEY, payload BLOB)");
        for (long i = 0; made && i < kRowsInTheFile; ++i)
            made = Execute(db, "INSERT INTO rows(payload) VALUES(randomblob(200))");
        made = made && Execute(db, "PRAGMA wal_checkpoint(TRUNCATE)");
        sqlite3_close(db);
        EXPECT_TRUE(made) << "cannot make " << path;
        pid_ = fork();
        if (pid_ == 0) {
            sqlite3* writer = nullptr;
            if (sqlite3_open(path.c_str(), &writer) != SQLITE_OK ||
                sqlite3_busy_timeout(writer, 60000) != SQLITE_OK ||
                !Execute(writer, "PRAGMA wal_autocheckpoint=0"))
                _exit(1);
            for (;;) {
                if (!Execute(writer, "INSERT INTO rows(payload) VALUES(randomblob(200))"))
                    _exit(2);
                usleep(500);
            }
        }
    }
    ~Inserter() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

private:
    pid_t pid_ = -1;
};

// The writer in a folder of root's, linked into the writers folder as a packager does;
// the folder to name in QUORLIN_WRITERS_DIR.
std::string InstallSqliteWriter(const BtrfsScratch& scratch) {
    const std::string bin = scratch.Outside() + "/bin", folder = scratch.Outside() + "/writers.d";
    EXPECT_EQ(0, mkdir(bin.c_str(), 0755));
    EXPECT_EQ(0, mkdir(folder.c_str(), 0755));
    Shell("install -m 755 '" + std::string(QUORLIN_SQLITE_WRITER) + "' '" + bin + "/'");
    EXPECT_EQ(0, symlink((bin + "/quorlin-writer-sqlite").c_str(), (folder + "/sqlite").c_str()));
    return folder;
}

TEST(ToolWithWriters, TheSqliteWriterLeavesTheDatabaseFileComplete) {
    const std::string why = BtrfsScratch::WhyNot();
    if (!why.empty())
        GTEST_SKIP() << why;
    BtrfsScratch scratch;
    const int subvolumes = scratch.SubvolumeCount();
    const std::string folder = InstallSqliteWriter(scratch);

    const std::string database = scratch.Volume() + "/app.db";
    Inserter inserter(database);
    const auto started = std::chrono::steady_clock::now();
    while (QueryNumber(database, "SELECT max(id) FROM rows") < 300 &&
           std::chrono::steady_clock::now() - started < std::chrono::seconds(20))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));

    setenv("QUORLIN_WRITERS_DIR", folder.c_str(), 1);
    setenv("QUORLIN_SQLITE_DATABASES", database.c_str(), 1);
    // Without writers first: the writer's checkpoint puts the log into the file.
    for (bool writers : {false, true}) {
        SCOPED_TRACE(writers ? "with the writer" : "--no-writers");
        // The database file alone, and beside it the file with its log: what the snapshot
        // holds as a whole.
        const std::string copy = scratch.Outside() + (writers ? "/with.db" : "/without.db");
        const std::string whole = scratch.Outside() + (writers ? "/with-log" : "/without-log");
        ASSERT_EQ(0, mkdir(whole.c_str(), 0755));
        const long before = QueryNumber(database, "SELECT max(id) FROM rows");
        std::vector<std::string> arguments = {
            "-vv", "--timings", "snapshot", database,
            "--",  "sh",        "-c",       "cp \"$1\" \"$2\" && cp \"$1\" \"$1-wal\" \"$3\"",
            "sh",  "{}",        copy,       whole};
        if (!writers)
            arguments.insert(arguments.begin() + 2, "--no-writers");
        const Outcome outcome = RunTool(arguments);
        ASSERT_EQ(0, outcome.exitCode) << outcome.err;
        const long after = QueryNumber(database, "SELECT max(id) FROM rows");
        EXPECT_EQ(writers, outcome.err.find("Writer sqlite: frozen") != std::string::npos)
            << outcome.err;
        // The phases of the writers' freeze and hold, when they take part.
        for (const char* phase :
             {"\nquorlin: timings: writers froze ", "\nquorlin: timings: writers held "})
            EXPECT_EQ(writers, outcome.err.find(phase) != std::string::npos) << outcome.err;

        EXPECT_EQ("ok", IntegrityOf(copy));
        const long rows = QueryNumber(copy, "SELECT count(*) FROM rows");
        EXPECT_EQ(rows, QueryNumber(copy, "SELECT max(id) FROM rows")) << "rows 1 to N";
        const long committed = QueryNumber(whole + "/app.db", "SELECT count(*) FROM rows");
        EXPECT_GE(committed, before);
        EXPECT_LE(committed, after);
        if (writers) {
            EXPECT_EQ(committed, rows) << "every row committed before the snapshot is in the file";
        } else {
            EXPECT_EQ(kRowsInTheFile, rows) << "the rows that were only in the log are missing";
            EXPECT_GT(committed, kRowsInTheFile);
        }
    }
    unsetenv("QUORLIN_WRITERS_DIR");
    unsetenv("QUORLIN_SQLITE_DATABASES");
    EXPECT_EQ(subvolumes, scratch.SubvolumeCount()) << "no snapshot is left";
}

// A WAL database made at `path`, with a row in its log that stays there while the
// connection returned stays open.
sqlite3* DatabaseWithRowInLog(const std::string& path) {
    sqlite3* db = nullptr;
    EXPECT_TRUE(
        sqlite3_open(path.c_str(), &db) == SQLITE_OK && Execute(db, "PRAGMA journal_mode=WAL") &&
        Execute(db, "PRAGMA wal_autocheckpoint=0") &&
        Execute(db, "CREATE TABLE rows(id INTEGER)") && Execute(db, "INSERT INTO rows VALUES(1)"))
        << path;
    return db;
}

// A process of the user nobody that makes a database at `path` and holds its write lock,
// as any user may hold their own database, until the test kills it; -1 when it could not.
pid_t NobodyHoldsWriteLock(const std::string& path) {
    int ready[2];
    EXPECT_EQ(0, pipe(ready));
    const pid_t pid = fork();
    if (pid == 0) {
        sqlite3* db = nullptr;
        if (BecomeNobody() && sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
            Execute(db, "PRAGMA journal_mode=WAL") && Execute(db, "BEGIN IMMEDIATE") &&
            Execute(db, "CREATE TABLE rows(id INTEGER)") && write(ready[1], "h", 1) == 1)
            pause();
        _exit(1);
    }
    close(ready[1]);
    char byte = 0;
    const bool held = read(ready[0], &byte, 1) == 1;
    close(ready[0]);
    return held ? pid : -1;
}

// A user who holds the write lock of a listed database of theirs costs one try a few
// seconds at most: the writer answers "retry" and lets the machine's snapshot-set lock go,
// so that a backup of another volume, which waits for that lock, gets its turn meanwhile.
TEST(ToolWithWriters, AUsersWriteLockHoldsUpNoBackupForLong) {
    const std::string why = BtrfsScratch::WhyNot();
    if (!why.empty())
        GTEST_SKIP() << why;
    BtrfsScratch scratch;
    const std::string home = scratch.Volume() + "/home", database = home + "/own.db";
    Shell("mkdir " + home + " && chown nobody " + home);
    const pid_t user = NobodyHoldsWriteLock(database);
    ASSERT_GT(user, 0);
    Launch launch;
    launch.environment = {"QUORLIN_WRITERS_DIR=" + InstallSqliteWriter(scratch),
                          "QUORLIN_SQLITE_DATABASES=" + database};
    ToolProcess held({"-vv", "snapshot", database, "--", "true"}, launch);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    // Tries at once, then after 1, 2, 4 and 8 s: 15 s in all, while the writer waits 5 s.
    const Outcome other =
        RunTool({"--retry", "4", "snapshot", "--no-writers", scratch.Nested(), "--", "true"});
    const Outcome outcome = held.Wait(90);
    kill(user, SIGKILL);
    waitpid(user, nullptr, 0);
    EXPECT_EQ(other.exitCode, 0) << other.err;
    EXPECT_EQ(outcome.exitCode, 1) << outcome.err;
    EXPECT_NE(outcome.err.find("Writer sqlite failed to freeze: cannot take the write lock of " +
                               database),
              std::string::npos)
        << outcome.err;
    EXPECT_NE(outcome.err.find("0x800423f3"), std::string::npos) << outcome.err;
}

// Root's writer holds only a database that its owner alone could have put at the listed
// path: not through a link a user planted there, nor in a folder that others can change.
TEST(ToolWithWriters, TheSqliteWriterOpensNothingAUserPointsItAt) {
    const std::string why = BtrfsScratch::WhyNot();
    if (!why.empty())
        GTEST_SKIP() << why;
    BtrfsScratch scratch;
    const std::string folder = InstallSqliteWriter(scratch);
    // Root's own database, in a folder only root may enter, with a row still in its log;
    // beside it folders of the user nobody's.
    const std::string vault = scratch.Volume() + "/vault", secret = vault + "/secret.db";
    const std::string user = scratch.Volume() + "/user", shared = scratch.Volume() + "/shared";
    Shell("mkdir -m 700 " + vault + " && mkdir -m 755 " + user + " && mkdir -m 1777 " + shared +
          " && chown nobody " + user + " " + shared);
    sqlite3* root = DatabaseWithRowInLog(secret);
    sqlite3_close(DatabaseWithRowInLog(user + "/root.db"));
    const std::string before = Shell("cksum < " + secret + " && ls " + vault);
    const struct {
        const char* what;
        std::string listed;
        std::string planted;  // by nobody, in a shell
    } cases[] = {
        {"a link to root's database", user + "/app.db", "ln -s " + secret + " " + user + "/app.db"},
        {"a link on the way", user + "/link/secret.db", "ln -s " + vault + " " + user + "/link"},
        {"a folder that others may write", shared + "/app.db",
         "sqlite3 " + shared + "/app.db 'CREATE TABLE t(x)'"},
        {"root's database in a user's folder", user + "/root.db", "true"},
        {"the user's own database", user + "/own.db",
         "sqlite3 " + user + "/own.db 'CREATE TABLE t(x)'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(AsNobody([&] { return std::system(c.planted.c_str()) == 0; }));
        Launch launch;
        launch.environment = {"QUORLIN_WRITERS_DIR=" + folder,
                              "QUORLIN_SQLITE_DATABASES=" + c.listed};
        const Outcome outcome =
            RunTool({"-vv", "snapshot", scratch.Volume(), "--", "true"}, launch);
        const bool own = c.listed == user + "/own.db";
        EXPECT_EQ(outcome.exitCode, own ? 0 : 1) << outcome.err;
        EXPECT_EQ(!own, outcome.err.find("Writer sqlite failed to prepare: " + c.listed +
                                         " is refused: ") != std::string::npos)
            << outcome.err;
        EXPECT_EQ(Shell("cksum < " + secret + " && ls " + vault), before)
            << "root's database was opened";
    }
    sqlite3_close(root);
}

}  // namespace
}  // namespace tooltest
