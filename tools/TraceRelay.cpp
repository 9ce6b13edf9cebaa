#include "TraceRelay.h"

#include <cstdio>

namespace qtool {

std::string TraceRelay::Collect() {
    std::string text = file_.ReadFrom(offset_);
    offset_ += text.size();
    std::string last;
    std::string::size_type start = 0;
    while (start < text.size()) {
        std::string::size_type end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        if (show_)
            std::fprintf(stderr, "%s\n", line.c_str());
        last = line;
    }
    if (show_)
        std::fflush(stderr);
    return last;
}

}  // namespace qtool
