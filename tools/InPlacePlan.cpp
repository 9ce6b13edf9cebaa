#include "InPlace.h"

#include <algorithm>

namespace qtool {
namespace {

bool Below(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           (folder.back() == '/' || path[folder.size()] == '/');
}

}  // namespace

const char kInPlaceChild[] = "--quorlin-in-place-child";

std::vector<Bind> PlanBinds(const std::vector<std::string>& sources,
                            const std::vector<std::string>& snapshotPaths) {
    std::vector<Bind> binds;
    for (size_t i = 0; i < sources.size() && i < snapshotPaths.size(); ++i) {
        bool known = std::any_of(binds.begin(), binds.end(),
                                 [&](const Bind& bind) { return bind.target == sources[i]; });
        if (!known)
            binds.push_back({sources[i], snapshotPaths[i]});
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
    if (arguments.size() < 1 + 2 * count + 1)
        return false;
    binds.clear();
    for (size_t i = 0; i < count; ++i)
        binds.push_back({arguments[1 + 2 * i], arguments[2 + 2 * i]});
    command.assign(arguments.begin() + 1 + 2 * count, arguments.end());
    return true;
}

}  // namespace qtool
