// The databases that the writer holds: those in QUORLIN_SQLITE_DATABASES (paths separated
// by ':'), or else those in /etc/quorlin/sqlite-writer.conf (one path a line; empty lines
// and lines starting with '#' are skipped).
#ifndef QUORLIN_TOOLS_WRITERS_DATABASE_LIST_H
#define QUORLIN_TOOLS_WRITERS_DATABASE_LIST_H

#include <string>
#include <vector>

namespace sqlitewriter {

// The list's paths, each absolute. A missing configuration file is an empty list. False
// with `error` set when the file cannot be read or a path is not absolute.
bool ReadDatabaseList(std::vector<std::string>& paths, std::string& error);

// The paths of `text`, split at `separator`, without empty ones and, when `comments`, without
// lines starting with '#'.
std::vector<std::string> ParseDatabaseList(const std::string& text, char separator, bool comments);

}  // namespace sqlitewriter

#endif
