// VssStartBackup2 over 1,000, 10,000 and 100,000 paths on three real btrfs volumes (the
// public class, the real host seam, the real btrfs service), beside floors measured in
// the same run on the same paths. Needs root and loop devices; elsewhere it says why and
// does nothing.
//
//   build/linux/bench/btrfs_lookup_bench --benchmark_repetitions=3
//
// One call over 1,000 paths (and the set-up), for strace -c:
//   build/linux/bench/btrfs_lookup_bench --benchmark_filter=StartBackup2/1000/
//       --benchmark_min_time=0.000001
//
// The paths are VOLUME/dirK/fileN, K < 97, on the three volumes in turn; the folders
// exist, the files do not. StartBackup2 times the start call alone, on a new agent each
// time (the completion that removes the snapshots runs outside the timing), and counts
// the page faults it takes. StatEachPath is one stat(2) of each path: the kernel's own
// walk, which any lookup of that path has to pay at least once. RealpathEachPath is the
// C library's realpath(3) of each path's folder. StartBackup2OnePathPerVolume is the
// fixed cost of the call: three volumes, three paths. The lines printed last give
// microseconds per path (medians with repetitions), wall and processor time, and the
// start call's ratio to the stat floor.
#include "Quorlin.h"
#include "posix/ScratchVolume.h"

#include <benchmark/benchmark.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

namespace quorlin {
namespace {

const int kVolumes = 3;
const int kDirectories = 97;
const size_t kOutputUnits = 512;  // a snapshot path is its source path and about 90 units

std::string g_volumes[kVolumes];

// Three btrfs volumes in `area`, each with the folders dir0 to dir96. False with `error`.
bool MakeVolumes(testing::ScratchArea& area, std::string& error) {
    if (!area.Create(error))
        return false;
    for (int v = 0; v < kVolumes; ++v) {
        if (!area.MountBtrfs("volume" + std::to_string(v), 256, g_volumes[v], error))
            return false;
        for (int k = 0; k < kDirectories; ++k) {
            const std::string folder = g_volumes[v] + "/dir" + std::to_string(k);
            if (::mkdir(folder.c_str(), 0755) != 0) {
                error = "cannot make " + folder;
                return false;
            }
        }
    }
    return true;
}

// `count` paths over the three volumes in turn, as UTF-8 and as wide text with a
// buffer for each snapshot path.
struct Paths {
    explicit Paths(int count) {
        for (int i = 0; i < count; ++i) {
            const int k = (i / kVolumes) % kDirectories;
            bytes.push_back(g_volumes[i % kVolumes] + "/dir" + std::to_string(k) + "/file" +
                            std::to_string(i));
            folders.push_back(g_volumes[i % kVolumes] + "/dir" + std::to_string(k));
            wide.emplace_back(bytes.back().begin(), bytes.back().end());  // ASCII
        }
        outputs.assign(static_cast<size_t>(count), std::vector<wchar_t>(kOutputUnits));
        for (std::wstring& path : wide)
            sources.push_back(&path[0]);
        for (std::vector<wchar_t>& output : outputs)
            snapshots.push_back(output.data());
    }

    std::vector<std::string> bytes;
    std::vector<std::string> folders;
    std::vector<std::wstring> wide;
    std::vector<std::vector<wchar_t>> outputs;
    std::vector<wchar_t*> sources;
    std::vector<wchar_t*> snapshots;
};

void CountPaths(benchmark::State& state, int count) {
    state.counters["paths"] = count;
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * count);
}

long MinorFaults() {
    rusage usage;
    return ::getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_minflt : 0;
}

// Start calls over `count` paths, each on a new agent and completed outside the timing;
// with the page faults that the calls took.
void TimeStartCalls(benchmark::State& state, int count) {
    Paths paths(count);
    long faults = 0;
    for (auto _ : state) {
        CQuorlin agent;
        const long before = MinorFaults();
        const int result =
            agent.VssStartBackup2(paths.sources.data(), paths.snapshots.data(), count);
        faults += MinorFaults() - before;
        state.PauseTiming();
        if (result != QUORLIN_RESULT_OK || agent.VssBackupComplete() != QUORLIN_RESULT_OK) {
            state.SkipWithError("VssStartBackup2 or VssBackupComplete failed");
            break;
        }
        state.ResumeTiming();
    }
    CountPaths(state, count);
    state.counters["faults/path"] =
        static_cast<double>(faults) / static_cast<double>(state.iterations()) / count;
}

void StartBackup2(benchmark::State& state) {
    TimeStartCalls(state, static_cast<int>(state.range(0)));
}

void StartBackup2OnePathPerVolume(benchmark::State& state) { TimeStartCalls(state, kVolumes); }

void StatEachPath(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Paths paths(count);
    for (auto _ : state) {
        for (const std::string& path : paths.bytes) {
            struct stat st;
            benchmark::DoNotOptimize(::stat(path.c_str(), &st));
        }
    }
    CountPaths(state, count);
}

void RealpathEachPath(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Paths paths(count);
    for (auto _ : state) {
        for (const std::string& folder : paths.folders) {
            char resolved[PATH_MAX];
            benchmark::DoNotOptimize(::realpath(folder.c_str(), resolved));
        }
    }
    CountPaths(state, count);
}

void TwoSizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(StatEachPath)->Apply(TwoSizes);
BENCHMARK(RealpathEachPath)->Apply(TwoSizes);
BENCHMARK(StartBackup2OnePathPerVolume)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(StartBackup2)->Arg(1000)->Apply(TwoSizes);

// The console report, then microseconds per path of each case (wall and processor time)
// and the start call's ratios to the stat floor at the same size.
class PerPathReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            // With repetitions, the median stands for them (it comes after them).
            const auto paths = run.counters.find("paths");
            if (run.error_occurred || paths == run.counters.end() || run.iterations == 0 ||
                (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median"))
                continue;
            const double perPath = 1000.0 / paths->second.value;  // ms -> us per path
            perPath_[run.run_name.function_name][static_cast<int>(paths->second.value)] = {
                run.GetAdjustedRealTime() * perPath, run.GetAdjustedCPUTime() * perPath};
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintPerPath() const {
        for (const auto& name : perPath_)
            for (const auto& size : name.second)
                std::printf("%-30s %7d paths: %8.2f us per path (%.2f us processor)\n",
                            name.first.c_str(), size.first, size.second.real, size.second.cpu);
        const auto start = perPath_.find("StartBackup2");
        const auto floor = perPath_.find("StatEachPath");
        if (start == perPath_.end() || floor == perPath_.end())
            return;
        for (const auto& size : start->second) {
            const auto same = floor->second.find(size.first);
            if (same != floor->second.end())
                std::printf(
                    "StartBackup2 over %d paths: %.1f x one stat of each path "
                    "(%.1f x in processor time)\n",
                    size.first, size.second.real / same->second.real,
                    size.second.cpu / same->second.cpu);
        }
    }

private:
    struct Times {
        double real;
        double cpu;
    };
    std::map<std::string, std::map<int, Times>> perPath_;
};

}  // namespace
}  // namespace quorlin

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const std::string reason = quorlin::testing::BtrfsUnavailableReason();
    if (!reason.empty()) {
        std::printf("btrfs_lookup_bench skipped: %s\n", reason.c_str());
        return 0;
    }
    quorlin::testing::ScratchArea area;
    std::string error;
    if (!quorlin::MakeVolumes(area, error)) {
        std::fprintf(stderr, "btrfs_lookup_bench: %s\n", error.c_str());
        return 1;
    }
    quorlin::PerPathReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintPerPath();
    benchmark::Shutdown();
    return 0;
}
