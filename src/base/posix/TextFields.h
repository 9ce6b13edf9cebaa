// Splitting the text of file names, paths and /proc tables into fields.
#ifndef QUORLIN_BASE_POSIX_TEXT_FIELDS_H
#define QUORLIN_BASE_POSIX_TEXT_FIELDS_H

#include <string>
#include <vector>

namespace quorlin {

// The parts of `text` between separators. Empty parts are kept unless `skipEmpty`
// (so "a//b/" gives a, b when skipping, and a, "", b, "" when not).
std::vector<std::string> SplitFields(const std::string& text, char separator, bool skipEmpty);

}  // namespace quorlin

#endif
