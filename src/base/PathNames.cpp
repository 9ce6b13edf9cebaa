#include "base/PathNames.h"

namespace quorlin {

std::vector<std::string> PathNames(const std::string& path) {
    std::vector<std::string> names;
    for (size_t start = 0; start < path.size();) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start)
            names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

}  // namespace quorlin
