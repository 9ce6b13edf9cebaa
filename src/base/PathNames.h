// The names that make up a path, for walks that open one name at a time.
#ifndef QUORLIN_BASE_PATH_NAMES_H
#define QUORLIN_BASE_PATH_NAMES_H

#include <string>
#include <vector>

namespace quorlin {

// The names of `path` in order, without the empty ones that its separators ('/') leave:
// "/srv//db/" gives "srv", "db".
std::vector<std::string> PathNames(const std::string& path);

}  // namespace quorlin

#endif  // QUORLIN_BASE_PATH_NAMES_H
