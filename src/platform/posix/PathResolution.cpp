#include "platform/posix/PathResolution.h"

#include "base/PathNames.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace quorlin {

namespace {

std::string Join(const std::string& base, const std::vector<std::string>& tail) {
    std::string result = base;
    for (const std::string& part : tail) {
        if (result.empty() || result.back() != '/')
            result += '/';
        result += part;
    }
    return result.empty() ? "/" : result;
}

bool IsDots(const std::string& part) { return part == "." || part == ".."; }

}  // namespace

int AbsolutePath(const std::string& path, std::string& absolute) {
    if (path.empty())
        return EINVAL;
    if (path[0] == '/') {
        absolute = path;
        return 0;
    }
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr)
        return errno;
    absolute = std::string(cwd) + "/" + path;
    return 0;
}

int ResolvePath(const std::string& path, std::string& resolved, ResolutionWalk* walk) {
    std::string absolute;
    const int absoluteError = AbsolutePath(path, absolute);
    if (absoluteError != 0)
        return absoluteError;

    // Walk up until an ancestor exists; remember the missing components.
    std::vector<std::string> parts = PathNames(absolute);
    std::vector<std::string> missing;
    for (;;) {
        const std::string candidate = Join("/", parts);
        char buffer[PATH_MAX];
        if (realpath(candidate.c_str(), buffer) != nullptr) {
            // Fold "." and ".." in what does not exist yet.
            std::string base = buffer;
            std::vector<std::string> tail;
            for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
                if (*it == ".")
                    continue;
                if (*it == "..") {
                    if (!tail.empty()) {
                        tail.pop_back();
                    } else if (base != "/") {
                        base = base.substr(0, base.find_last_of('/'));
                        if (base.empty())
                            base = "/";
                    }
                    continue;
                }
                tail.push_back(*it);
            }
            if (walk != nullptr) {
                walk->complete = missing.empty();
                walk->canonical = true;
                for (const std::string& part : missing)
                    walk->canonical = walk->canonical && !IsDots(part);
                walk->firstMissing = missing.empty() ? "" : Join(buffer, {missing.back()});
            }
            resolved = Join(base, tail);
            return 0;
        }
        const int error = errno;
        if ((error != ENOENT && error != ENOTDIR) || parts.empty())
            return error;
        missing.push_back(parts.back());
        parts.pop_back();
    }
}

}  // namespace quorlin
