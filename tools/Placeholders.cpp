#include "Placeholders.h"

#include "Failure.h"

namespace qtool {
namespace {

const size_t kNotPlaceholder = 0;

// The PATH number (from 1) that `argument` stands for, or kNotPlaceholder. {0} and
// numbers too large to hold give a number beyond any PATH.
size_t PlaceholderNumber(const std::string& argument) {
    if (argument == "{}")
        return 1;
    if (argument.size() < 3 || argument.front() != '{' || argument.back() != '}')
        return kNotPlaceholder;
    size_t number = 0;
    for (size_t i = 1; i + 1 < argument.size(); ++i) {
        char c = argument[i];
        if (c < '0' || c > '9')
            return kNotPlaceholder;
        number = number > 100000 ? number : number * 10 + static_cast<size_t>(c - '0');
    }
    return number == 0 ? static_cast<size_t>(-1) : number;
}

}  // namespace

void CheckPlaceholders(const std::vector<std::string>& arguments, size_t pathCount) {
    for (const std::string& argument : arguments) {
        size_t number = PlaceholderNumber(argument);
        if (number != kNotPlaceholder && number > pathCount)
            throw Failure(kExitUsage,
                          argument + " names no PATH: with " + std::to_string(pathCount) +
                              " PATH(s) use {} or {1} to {" + std::to_string(pathCount) + "}");
    }
}

std::vector<std::string> ReplacePlaceholders(const std::vector<std::string>& arguments,
                                             const std::vector<std::string>& snapshotPaths) {
    CheckPlaceholders(arguments, snapshotPaths.size());
    std::vector<std::string> replaced;
    for (const std::string& argument : arguments) {
        size_t number = PlaceholderNumber(argument);
        replaced.push_back(number == kNotPlaceholder ? argument : snapshotPaths[number - 1]);
    }
    return replaced;
}

Environment SnapshotEnvironment(const std::vector<std::string>& snapshotPaths) {
    Environment environment;
    for (size_t i = 0; i < snapshotPaths.size(); ++i)
        environment.emplace_back("QUORLIN_SNAPSHOT_" + std::to_string(i + 1), snapshotPaths[i]);
    return environment;
}

}  // namespace qtool
