#include "Placeholders.h"

#include "Failure.h"

namespace qtool {
namespace {

// A number too large to name any PATH; {0} names none either.
const size_t kNoPath = static_cast<size_t>(-1);

// A placeholder found in an argument.
struct Placeholder {
    size_t length = 0;     // 0: none starts there
    size_t number = 0;     // the PATH it names, from 1, or kNoPath
    bool literal = false;  // doubled: it passes as {N} itself
};

// The "{digits}" that starts at text[at], if one does: its length, and its number ({} is 1).
size_t BracedNumberAt(const std::string& text, size_t at, size_t& number) {
    if (at >= text.size() || text[at] != '{')
        return 0;
    size_t end = at + 1;
    number = 0;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') {
        number = number > 100000 ? number : number * 10 + static_cast<size_t>(text[end] - '0');
        ++end;
    }
    if (end >= text.size() || text[end] != '}')
        return 0;
    if (end == at + 1)
        number = 1;
    else if (number == 0 || number > 100000)
        number = kNoPath;
    return end + 1 - at;
}

Placeholder PlaceholderAt(const std::string& text, size_t at) {
    Placeholder found;
    size_t length = BracedNumberAt(text, at, found.number);
    if (length != 0) {
        found.length = length;
        return found;
    }
    // {{N}}: the inner {N}, between one more brace on each side.
    length = at < text.size() && text[at] == '{' ? BracedNumberAt(text, at + 1, found.number) : 0;
    if (length != 0 && at + 1 + length < text.size() && text[at + 1 + length] == '}') {
        found.length = length + 2;
        found.literal = true;
    }
    return found;
}

// Calls `each` with every placeholder of `argument` and where it starts.
template <typename Each>
void ForEachPlaceholder(const std::string& argument, Each each) {
    for (size_t at = 0; at < argument.size();) {
        const Placeholder found = PlaceholderAt(argument, at);
        if (found.length == 0) {
            each(at, Placeholder());
            ++at;
        } else {
            each(at, found);
            at += found.length;
        }
    }
}

}  // namespace

void CheckPlaceholders(const std::vector<std::string>& arguments, size_t pathCount) {
    for (const std::string& argument : arguments)
        ForEachPlaceholder(argument, [&](size_t at, const Placeholder& found) {
            if (found.length == 0 || found.literal || found.number <= pathCount)
                return;
            const std::string written = argument.substr(at, found.length);
            throw Failure(kExitUsage, written + " in \"" + argument + "\" names no PATH: with " +
                                          std::to_string(pathCount) +
                                          " PATH(s) use {} or {1} to {" +
                                          std::to_string(pathCount) + "}, and {" + written +
                                          "} for the text " + written + " itself");
        });
}

std::vector<std::string> ReplacePlaceholders(const std::vector<std::string>& arguments,
                                             const std::vector<std::string>& snapshotPaths) {
    CheckPlaceholders(arguments, snapshotPaths.size());
    std::vector<std::string> replaced;
    for (const std::string& argument : arguments) {
        std::string text;
        ForEachPlaceholder(argument, [&](size_t at, const Placeholder& found) {
            if (found.length == 0)
                text += argument[at];
            else if (found.literal)
                text += argument.substr(at + 1, found.length - 2);
            else
                text += snapshotPaths[found.number - 1];
        });
        replaced.push_back(text);
    }
    return replaced;
}

const std::vector<std::string> kSnapshotVariablePrefixes = {"QUORLIN_SNAPSHOT_", "QUORLIN_PATH_"};

Environment SnapshotEnvironment(const std::vector<std::string>& paths,
                                const std::vector<std::string>& snapshotPaths) {
    Environment environment;
    for (size_t i = 0; i < snapshotPaths.size() && i < paths.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        environment.emplace_back("QUORLIN_SNAPSHOT_" + n, snapshotPaths[i]);
        environment.emplace_back("QUORLIN_PATH_" + n, paths[i]);
    }
    environment.emplace_back("QUORLIN_SNAPSHOT_COUNT", std::to_string(environment.size() / 2));
    return environment;
}

}  // namespace qtool
