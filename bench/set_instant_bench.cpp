// The checker of what a snapshot set is: a process writes a counter into a file on each of
// 8 subvolumes of one file system in order, over and over, and sets are taken through
// Quorlin itself, the library's VssStartBackup2 over the 8 subvolumes and the quorlin
// command over the folder whose nested subvolumes they are. A set "shows a state that
// never existed" when a later subvolume holds a newer counter than an earlier one, or two
// differ by more than one. Each write synced (as a database commits) and buffered; on a
// file system mounted as it comes, and with flushoncommit. Needs root and loop devices.
//
//   build/linux/bench/set_instant_bench [SETS [COMMAND-SETS]]     (1000 and 1000)
#include "Quorlin.h"
#include "platform/posix/Utf8.h"
#include "posix/OrderedWriter.h"
#include "posix/ScratchVolume.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace quorlin {
namespace {

const int kVolumes = 8;

struct Tally {
    int sets = 0;
    int neverExisted = 0;
    int neverExistedWhole = 0;  // among the sets that came out as one transaction
    int wholeFirstTry = 0;
    int whole = 0;
    double milliseconds = 0;

    void Count(bool existed, bool isWhole, int tries, double ms) {
        ++sets;
        neverExisted += !existed;
        neverExistedWhole += !existed && isWhole;
        whole += isWhole;
        wholeFirstTry += isWhole && tries == 1;
        milliseconds += ms;
    }
    void Print(const char* way, const char* mount, const char* writes) const {
        std::printf(
            "%-8s %-14s %-8s sets %5d; never existed %4d (in whole sets %d); one "
            "transaction %5.1f %% on the first try, %5.1f %% in the end; %.1f ms a set\n",
            way, mount, writes, sets, neverExisted, neverExistedWhole, 100.0 * wholeFirstTry / sets,
            100.0 * whole / sets, milliseconds / sets);
        std::fflush(stdout);
    }
};

std::vector<long> Counters(const std::vector<std::string>& snapshots) {
    std::vector<long> counters;
    for (const std::string& snapshot : snapshots)
        counters.push_back(testing::ReadCounter(snapshot + "/" + testing::kCounterFile));
    return counters;
}

double Since(std::chrono::steady_clock::time_point begun) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begun)
        .count();
}

Tally ThroughTheLibrary(const std::vector<std::string>& volumes, int sets) {
    std::vector<std::wstring> sources;
    for (const std::string& volume : volumes)
        sources.push_back(FromUtf8(volume + "/"));
    std::vector<std::vector<wchar_t>> buffers(volumes.size(), std::vector<wchar_t>(8192));
    std::vector<wchar_t*> sourcePointers, bufferPointers;
    for (size_t i = 0; i < volumes.size(); ++i) {
        sourcePointers.push_back(&sources[i][0]);
        bufferPointers.push_back(buffers[i].data());
    }
    Tally tally;
    for (int set = 0; set < sets; ++set) {
        const auto begun = std::chrono::steady_clock::now();
        CQuorlin agent;
        _Quorlin_Set_Instant instant = {};
        if (agent.VssStartBackup2(sourcePointers.data(), bufferPointers.data(),
                                  static_cast<int>(volumes.size())) != QUORLIN_RESULT_OK ||
            agent.VssSetInstant(instant) != QUORLIN_RESULT_OK) {
            std::fprintf(stderr, "set_instant_bench: VssStartBackup2 failed\n");
            std::exit(1);
        }
        const double ms = Since(begun);
        std::vector<std::string> snapshots;
        for (const auto& buffer : buffers)
            snapshots.push_back(ToUtf8(buffer.data(), std::wcslen(buffer.data())));
        tally.Count(testing::StateExisted(Counters(snapshots)), instant.wholeSet != 0,
                    instant.tries, ms);
        agent.VssBackupComplete();
    }
    return tally;
}

// The text of the JSON string value after each `"key":"` in `json` (no escapes: the
// bench's own names).
std::vector<std::string> Values(const std::string& json, const std::string& key) {
    std::vector<std::string> values;
    const std::string mark = "\"" + key + "\":";
    for (size_t at = json.find(mark); at != std::string::npos; at = json.find(mark, at + 1)) {
        size_t begin = at + mark.size();
        const bool quoted = json[begin] == '"';
        begin += quoted;
        const size_t end = json.find_first_of(quoted ? "\"" : ",}", begin);
        values.push_back(json.substr(begin, end - begin));
    }
    return values;
}

// `quorlin snapshot --json TREE`, held until its standard input gets a line: its JSON line.
Tally ThroughTheCommand(const std::string& tool, const std::string& tree, int sets) {
    Tally tally;
    for (int set = 0; set < sets; ++set) {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0)
            std::exit(1);
        const auto begun = std::chrono::steady_clock::now();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::close(in[1]);
            ::close(out[0]);
            ::execl(tool.c_str(), "quorlin", "snapshot", "--json", tree.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        std::string line;
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n')
            line += c;
        const double ms = Since(begun);
        std::vector<std::string> snapshots = Values(line, "snapshot");
        const std::vector<std::string> whole = Values(line, "whole_set");
        const std::vector<std::string> tries = Values(line, "tries");
        if (snapshots.size() != kVolumes + 1 || whole.empty() || tries.empty()) {
            std::fprintf(stderr, "set_instant_bench: quorlin said %s\n", line.c_str());
            std::exit(1);
        }
        snapshots.erase(snapshots.begin());  // the folder's own volume holds no counter
        tally.Count(testing::StateExisted(Counters(snapshots)), whole[0] == "true",
                    std::atoi(tries[0].c_str()), ms);
        (void)!::write(in[1], "\n", 1);
        ::close(in[1]);
        ::close(out[0]);
        ::waitpid(pid, nullptr, 0);
    }
    return tally;
}

}  // namespace
}  // namespace quorlin

int main(int argc, char** argv) {
    using namespace quorlin;
    const int sets = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int commandSets = argc > 2 ? std::atoi(argv[2]) : 1000;
    const std::string unavailable = testing::BtrfsUnavailableReason();
    if (!unavailable.empty()) {
        std::printf("set_instant_bench skipped: %s\n", unavailable.c_str());
        return 0;
    }
    testing::ScratchArea area;
    std::string error;
    if (!area.Create(error)) {
        std::fprintf(stderr, "set_instant_bench: %s\n", error.c_str());
        return 1;
    }
    for (const char* mount : {"as it comes", "flushoncommit"}) {
        std::string point;
        const std::string name = mount[0] == 'a' ? "plain" : "flushoncommit";
        if (!area.MountBtrfs(name, 1024, point, error) ||
            (name == "flushoncommit" &&
             testing::RunQuietly("mount -o remount,flushoncommit '" + point + "'") != 0)) {
            std::fprintf(stderr, "set_instant_bench: %s\n", error.c_str());
            return 1;
        }
        const std::string tree = point + "/tree";
        ::mkdir(tree.c_str(), 0755);
        std::vector<std::string> volumes;
        for (int i = 0; i < kVolumes; ++i) {
            volumes.push_back(tree + "/v" + std::to_string(i));
            if (!testing::MakeSubvolume(volumes.back()))
                return 1;
        }
        for (bool synced : {true, false}) {
            testing::OrderedWriter writer(volumes, synced);
            const char* writes = synced ? "synced" : "buffered";
            ThroughTheLibrary(volumes, sets).Print("library", mount, writes);
            ThroughTheCommand(QUORLIN_TOOL, tree, commandSets).Print("command", mount, writes);
        }
    }
    return 0;
}
