// What the built quorlin tells people and scripts: the step times under -vv, the phases
// of --timings, and the JSON of --json read back by a JSON parser.
#include "ToolOnBtrfs.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>

namespace tooltest {
namespace {

// Flattens the JSON of the first line of each file named to "N:key=value" lines (N: the
// file's place from 0), with every string as the hexadecimal bytes that os.fsencode makes
// of it: the exact bytes of a name. One run for all (Python is slow to start).
const char kFlatten[] = R"(import json, os, sys
def flat(value, key, out):
    if isinstance(value, dict):
        for k in value:
            flat(value[k], key + "." + k if key else k, out)
    elif isinstance(value, list):
        for i, item in enumerate(value):
            flat(item, "%s[%d]" % (key, i), out)
    elif isinstance(value, str):
        out.append("%s=%s" % (key, os.fsencode(value).hex()))
    else:
        out.append("%s=%s" % (key, json.dumps(value)))
for n, name in enumerate(sys.argv[1:]):
    out = []
    with open(name, encoding="utf-8") as answer:
        flat(json.loads(answer.readline()), "", out)
    print("\n".join("%d:%s" % (n, line) for line in out))
)";

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : bytes)
        hex += std::string{digits[byte >> 4], digits[byte & 15]};
    return hex;
}

// The first line of each of `outs`, as a JSON parser reads it.
std::vector<std::map<std::string, std::string>> ParsedJson(const std::vector<std::string>& outs,
                                                           const std::string& folder) {
    std::string command = "PYTHONUTF8=1 python3 '" + folder + "/flatten.py'";
    Write(folder + "/flatten.py", kFlatten);
    for (std::size_t i = 0; i < outs.size(); ++i) {
        const std::string name = folder + "/answer" + std::to_string(i) + ".json";
        Write(name, outs[i]);
        command += " '" + name + "'";
    }
    std::vector<std::map<std::string, std::string>> parsed(outs.size());
    std::istringstream lines(Shell(command));
    for (std::string line; std::getline(lines, line);) {
        const std::size_t colon = line.find(':');
        const std::size_t equals = line.find('=');
        const std::size_t n = std::stoul(line.substr(0, colon));
        if (n < parsed.size() && equals != std::string::npos)
            parsed[n][line.substr(colon + 1, equals - colon - 1)] = line.substr(equals + 1);
    }
    return parsed;
}

// The sentence of standard error, as --json gives it.
std::string SentenceOf(const std::string& err) {
    std::string::size_type at = err.rfind("quorlin: ");
    return at == std::string::npos ? "" : err.substr(at + 9, err.size() - at - 10);
}

TEST_F(ToolOnBtrfs, JsonAnswersReadBackExactly) {
    const std::string odd = Volume() + "/odd \"name\"\\ \t\n\x01 caf\xc3\xa9 \xf0\x9f\x98\x80";
    const std::string notUtf8 = Volume() + "/caf\xc3";  // cut short at the end
    Write(Volume() + "/first.txt", "one");
    Write(scratch_->Nested() + "/second.txt", "two");
    Write(odd, "odd");
    Write(notUtf8, "bytes");
    Write(scratch_->Tmpfs() + "/plain.txt", "plain");
    const std::string first = Volume() + "/first.txt";
    const std::string second = scratch_->Nested() + "/second.txt";
    const std::string plain = scratch_->Tmpfs() + "/plain.txt";
    const struct {
        const char* what;
        std::vector<std::string> arguments;
        int exitCode;
        std::map<std::string, std::string> fields;  // strings as hexadecimal bytes
        std::vector<std::string> volumes;           // of the paths, on success
        std::string after;                          // standard output after the JSON line
        bool onError;  // beside a command: the JSON on standard error, standard output its own
    } cases[] = {
        {"two volumes",
         {"--json", "snapshot", first, second, "--", "cat", "{1}", "{2}"},
         0,
         {{"ok", "true"},
          {"paths[0].source", Hex(first)},
          {"paths[1].source", Hex(second)},
          {"instant.file_systems", "1"}},
         {Volume(), scratch_->Nested()},
         "onetwo",
         true},
        {"an odd name, copied",
         {"copy", odd, scratch_->Outside(), "--json"},
         0,
         {{"ok", "true"}, {"paths[0].source", Hex(odd)}},
         {Volume()},
         "",
         false},
        {"a volume without snapshots",
         {"snapshot", "--json", plain},
         1,
         {{"ok", "false"},
          {"exit", "1"},
          {"result", "1"},
          {"code", Hex("0x8004230c")},
          {"report", Hex("There was a COM failure 0x8004230c - .\\QuorlinClass (505)")}},
         {},
         "",
         false},
        {"a name that is not UTF-8, its very bytes",
         {"--json", "snapshot", notUtf8, "--", "cat", "{}"},
         0,
         {{"ok", "true"}, {"paths[0].source", Hex(notUtf8)}},
         {Volume()},
         "bytes",
         true},
    };
    std::vector<Outcome> outcomes;
    for (const auto& c : cases)
        outcomes.push_back(RunTool(c.arguments));
    std::vector<std::string> outs;
    for (std::size_t n = 0; n < outcomes.size(); ++n)
        outs.push_back(cases[n].onError ? outcomes[n].err : outcomes[n].out);
    std::vector<std::map<std::string, std::string>> parsed = ParsedJson(outs, scratch_->Outside());
    for (std::size_t n = 0; n < outcomes.size(); ++n) {
        const auto& c = cases[n];
        const Outcome& outcome = outcomes[n];
        std::map<std::string, std::string>& fields = parsed[n];
        SCOPED_TRACE(c.what);
        EXPECT_EQ(outcome.exitCode, c.exitCode) << outcome.err;
        const std::string& answer = c.onError ? outcome.err : outcome.out;
        const std::string::size_type end = answer.find('\n');
        ASSERT_NE(end, std::string::npos) << answer;
        EXPECT_EQ(c.onError ? outcome.out : answer.substr(end + 1), c.after);
        for (const auto& field : c.fields)
            EXPECT_EQ(fields[field.first], field.second) << field.first;
        if (c.exitCode != 0) {
            EXPECT_EQ(fields["sentence"], Hex(SentenceOf(outcome.err))) << outcome.err;
            continue;
        }
        EXPECT_EQ(c.onError ? outcome.err.substr(end + 1) : outcome.err, "");
        EXPECT_TRUE(
            std::regex_match(answer.substr(0, end),
                             std::regex(R"(\{"ok":true,"set":"[0-9a-f]{8}(-[0-9a-f]{4}){3})"
                                        R"(-[0-9a-f]{12}","paths":\[.*\],"instant":\{.*\}\})")))
            << answer;
        for (std::size_t i = 0; i < c.volumes.size(); ++i) {
            const std::string index = "paths[" + std::to_string(i) + "]";
            EXPECT_EQ(fields[index + ".volume"], Hex(c.volumes[i]));
            // The snapshot path lies on the path's volume and ends with the same name.
            const auto command = std::find(c.arguments.begin(), c.arguments.end(), "snapshot");
            const std::string source =
                command == c.arguments.end() ? c.arguments[1] : *(command + 1 + i);
            const std::string name = source.substr(source.rfind('/'));
            const std::string snapshot = fields[index + ".snapshot"];
            ASSERT_GT(snapshot.size(), Hex(name).size());
            EXPECT_EQ(snapshot.substr(snapshot.size() - Hex(name).size()), Hex(name));
        }
    }
    EXPECT_EQ(Read(scratch_->Outside() + odd.substr(odd.rfind('/'))), "odd");
}

TEST_F(ToolOnBtrfs, StepLinesCarryTheirTimeAndTimingsNameEachPhaseInOrder) {
    const std::string file = Volume() + "/timed.txt";
    Write(file, "timed");
    Outcome outcome = RunTool({"-vv", "--timings", "snapshot", file, "--", "sleep", "0.2"});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    std::istringstream lines(outcome.err);
    const std::regex step(R"((.+)  \[\+([0-9]+\.[0-9]) ms\])");
    const std::regex phase(R"(quorlin: timings: (.+[^ ]) +([0-9]+\.[0-9]) ms( \(.+\))?)");
    std::vector<std::string> steps;
    std::vector<std::string> phases;
    double inUse = 0;
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_match(line, match, step)) {
            steps.push_back(match[1]);
        } else if (std::regex_match(line, match, phase)) {
            phases.push_back(match[1]);
            if (match[1] == "snapshot in use")
                inUse = std::stod(match[2]);
        } else if (line.rfind(file + "\t", 0) != 0) {  // the snapshot line, beside the command
            ADD_FAILURE() << "a line without its time: " << line;
        }
    }
    const std::vector<std::string> expectedSteps = {
        "Calling CreateVssBackupComponents", "Calling DoSnapshotSet", "Calling BackupComplete",
        "Backup successfully completed."};
    for (const std::string& expected : expectedSteps)
        EXPECT_NE(std::find(steps.begin(), steps.end(), expected), steps.end()) << expected;
    EXPECT_EQ(phases,
              (std::vector<std::string>{"set up", "writers gathered", "volumes added", "prepared",
                                        "snapshot taken", "snapshot paths found", "snapshot in use",
                                        "completed", "total", "snapshot window"}));
    EXPECT_NE(outcome.err.find("\nSnapshot set: 1 file system, "), std::string::npos)
        << outcome.err;
    EXPECT_NE(outcome.err.find("quorlin: timings: snapshot window "), std::string::npos);
    EXPECT_GE(inUse, 200.0) << "the command ran while the snapshot was in use";

    // Without -v the phases alone; after a failure, the phases that ran.
    Write(scratch_->Tmpfs() + "/timed.txt", "timed");
    Outcome failed = RunTool({"--timings", "snapshot", scratch_->Tmpfs() + "/timed.txt"});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_TRUE(std::regex_search(failed.err, std::regex("^quorlin: timings: set up +[0-9.]+ ms\n"
                                                         "(quorlin: timings: .*\n)*"
                                                         "quorlin: timings: total .*\n"
                                                         "quorlin: could not take")))
        << failed.err;
}

}  // namespace
}  // namespace tooltest
