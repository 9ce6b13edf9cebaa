// Whether the writer, which runs as root, may open a listed database at all. Root must
// open only what the database's owner could have put there: a regular file reached from /
// without a link, in a folder that no one but root and the database's owner can change
// (SQLite makes the -wal and -shm files there), below folders that no one else can change
// either (a sticky folder, such as /tmp, may be writable by all above a folder of theirs).
// A user who plants a link at a listed path, or swaps folders on its way, gets nothing held.
#ifndef QUORLIN_TOOLS_WRITERS_DATABASE_PLACE_H
#define QUORLIN_TOOLS_WRITERS_DATABASE_PLACE_H

#include <string>

namespace sqlitewriter {

enum class Place { kAllowed, kMissing, kRefused };

// The verdict for the absolute `path`; with kRefused, `why` says which entry and why.
Place CheckDatabasePlace(const std::string& path, std::string& why);

}  // namespace sqlitewriter

#endif
