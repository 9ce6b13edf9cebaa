#include "InPlace.h"

#include "SourcePath.h"

#include <algorithm>

namespace qtool {
namespace {

const char kHexDigits[] = "0123456789abcdef";

// An origin as an argument: "-" for none, else its bytes in hexadecimal.
std::string OriginArgument(const std::string& origin) {
    if (origin.empty())
        return "-";
    std::string text;
    for (unsigned char byte : origin) {
        text += kHexDigits[byte >> 4];
        text += kHexDigits[byte & 15];
    }
    return text;
}

bool ParseOrigin(const std::string& text, std::string& origin) {
    origin.clear();
    if (text == "-")
        return true;
    if (text.empty() || text.size() % 2 != 0 ||
        text.find_first_not_of(kHexDigits) != std::string::npos)
        return false;
    for (size_t i = 0; i < text.size(); i += 2)
        origin += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    return true;
}

bool Below(const std::string& path, const std::string& folder) {
    return path != folder && AtOrBelow(path, folder);
}

}  // namespace

const char kInPlaceChild[] = "--quorlin-in-place-child";

std::vector<Bind> PlanBinds(const std::vector<std::string>& sources,
                            const std::vector<std::string>& snapshotPaths,
                            const std::vector<std::string>& origins) {
    std::vector<Bind> binds;
    for (size_t i = 0; i < sources.size() && i < snapshotPaths.size(); ++i) {
        bool known = std::any_of(binds.begin(), binds.end(),
                                 [&](const Bind& bind) { return bind.target == sources[i]; });
        if (!known)
            binds.push_back({sources[i], snapshotPaths[i], i < origins.size() ? origins[i] : ""});
    }
    // A parent's path is a prefix of its children's, so it sorts first.
    std::sort(binds.begin(), binds.end(),
              [](const Bind& a, const Bind& b) { return a.target < b.target; });
    return binds;
}

std::vector<int> EnclosingBinds(const std::vector<Bind>& binds) {
    std::vector<int> enclosing;
    for (size_t i = 0; i < binds.size(); ++i) {
        int found = -1;
        for (size_t j = 0; j < i; ++j)
            if (Below(binds[i].target, binds[j].target))
                found = static_cast<int>(j);
        enclosing.push_back(found);
    }
    return enclosing;
}

std::vector<std::string> InPlaceArguments(const std::vector<Bind>& binds,
                                          const std::vector<std::string>& command) {
    std::vector<std::string> arguments = {std::to_string(binds.size())};
    for (const Bind& bind : binds) {
        arguments.push_back(bind.target);
        arguments.push_back(bind.snapshot);
        arguments.push_back(OriginArgument(bind.origin));
    }
    arguments.insert(arguments.end(), command.begin(), command.end());
    return arguments;
}

bool ParseInPlaceArguments(const std::vector<std::string>& arguments, std::vector<Bind>& binds,
                           std::vector<std::string>& command) {
    if (arguments.empty() || arguments[0].empty() ||
        arguments[0].find_first_not_of("0123456789") != std::string::npos ||
        arguments[0].size() > 6)
        return false;
    size_t count = std::stoul(arguments[0]);
    if (arguments.size() < 1 + 3 * count + 1)
        return false;
    binds.clear();
    for (size_t i = 0; i < count; ++i) {
        Bind bind{arguments[1 + 3 * i], arguments[2 + 3 * i], ""};
        if (!ParseOrigin(arguments[3 + 3 * i], bind.origin))
            return false;
        binds.push_back(bind);
    }
    command.assign(arguments.begin() + 1 + 3 * count, arguments.end());
    return true;
}

}  // namespace qtool
