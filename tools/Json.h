// The command's answers for scripts (--json): one JSON object on one line of standard
// output for the snapshot set taken, and one for a failure.
#ifndef QUORLIN_TOOL_JSON_H
#define QUORLIN_TOOL_JSON_H

#include "Failure.h"

#include <string>
#include <vector>

namespace qtool {

// `text` as a JSON string, in quotes, in ASCII alone so that no console code page can
// change it: every character beyond ASCII becomes a \u escape (a surrogate pair beyond
// U+FFFF) and every control character one too. A byte that is not part of valid UTF-8
// (Linux names are bytes) becomes \udc80..\udcff, the "surrogateescape" convention:
// Python's json.loads and os.fsencode give back the very bytes, and strict parsers see
// one replacement character for it.
std::string JsonString(const std::string& text);

// One PATH of the set: as given, its path inside the snapshot, and its volume.
struct JsonPath {
    std::string source;
    std::string snapshot;
    std::string volume;
};

// The PATHs as given, each resolved, and their snapshot paths, with each one's volume.
std::vector<JsonPath> JsonPaths(const std::vector<std::string>& given,
                                const std::vector<std::string>& resolved,
                                const std::vector<std::string>& snapshots);

// {"ok":true,"set":SET,"paths":[{"source":..,"snapshot":..,"volume":..},...],"instant":I}
// with `instant` as it is (SetInstant.h's InstantJson, or null).
std::string SuccessJson(const std::string& setId, const std::vector<JsonPath>& paths,
                        const std::string& instant = "null");
// {"ok":false,"exit":N,"result":N|null,"code":"0x..."|null,"report":..|null,"sentence":..}
// `sentence` as the user sees it, without the "quorlin: " prefix.
std::string FailureJson(const Failure& failure, const std::string& sentence);

}  // namespace qtool

#endif  // QUORLIN_TOOL_JSON_H
