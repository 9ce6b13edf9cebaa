#include "base/posix/TextFields.h"

namespace quorlin {

std::vector<std::string> SplitFields(const std::string& text, char separator, bool skipEmpty) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start || !skipEmpty)
            fields.push_back(text.substr(start, end - start));
        if (end == text.size())
            return fields;
        start = end + 1;
    }
}

}  // namespace quorlin
