#include "DatabaseList.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <sstream>

namespace sqlitewriter {

namespace {

const char kVariable[] = "QUORLIN_SQLITE_DATABASES";
const char kConfiguration[] = "/etc/quorlin/sqlite-writer.conf";

std::string Trimmed(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return std::string();
    return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

}  // namespace

std::vector<std::string> ParseDatabaseList(const std::string& text, char separator, bool comments) {
    std::vector<std::string> paths;
    std::istringstream stream(text);
    std::string entry;
    while (std::getline(stream, entry, separator)) {
        entry = separator == '\n' ? Trimmed(entry) : entry;
        if (!entry.empty() && !(comments && entry[0] == '#'))
            paths.push_back(entry);
    }
    return paths;
}

bool ReadDatabaseList(std::vector<std::string>& paths, std::string& error) {
    if (const char* variable = std::getenv(kVariable)) {
        paths = ParseDatabaseList(variable, ':', false);
    } else {
        std::FILE* file = std::fopen(kConfiguration, "r");
        if (file == nullptr) {
            if (errno == ENOENT)
                return true;
            error = std::string("cannot read ") + kConfiguration + ": " + std::strerror(errno);
            return false;
        }
        std::string text;
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            text.append(buffer, got);
        std::fclose(file);
        paths = ParseDatabaseList(text, '\n', true);
    }
    for (const std::string& path : paths) {
        if (path[0] != '/') {
            error = "the database path " + path + " is not absolute";
            return false;
        }
    }
    return true;
}

}  // namespace sqlitewriter
