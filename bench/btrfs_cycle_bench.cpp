// The snapshot cycle of the public class on real btrfs (VssStartBackup, then
// VssBackupComplete, with the real host and the real btrfs service), side by side with the
// bare kernel calls that it cannot do without: a read-only BTRFS_IOC_SNAP_CREATE_V2 of the
// same volume into a folder at the root of its mount, BTRFS_IOC_SNAP_DESTROY, and
// BTRFS_IOC_START_SYNC / BTRFS_IOC_WAIT_SYNC. Two file systems: one empty, one whose root
// folder holds 20,000 small files; the volume is the top of each (as "/" or "/home" often
// are, with the store inside the volume) or a subvolume below it that is empty or holds
// 20,000 small files in its root folder; and a subvolume of a third file system that holds
// 5,000 snapshots elsewhere (as snapper or btrbk leave them). Beside them, a set of 8
// subvolumes of one file system (VssStartBackup2 and VssBackupComplete) against 8 bare
// snapshots taken one after another into one folder, deleted, and one commit. Needs root
// and loop devices; elsewhere it says why and does nothing.
//
//   build/linux/bench/btrfs_cycle_bench --benchmark_enable_random_interleaving=true
//
// Each case runs several times; the ratios printed last compare medians, and minimums
// (the least disturbed run, on a busy machine).
#include "Quorlin.h"
#include "base/posix/BtrfsIoctl.h"
#include "base/posix/UniqueFd.h"
#include "platform/posix/Utf8.h"
#include "posix/ScratchVolume.h"
#include "platform/Requester.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace quorlin {
namespace {

const int kManyFiles = 20000;
const size_t kSmallFileBytes = 100;
const int kOtherSnapshots = 5000;
const int kSetVolumes = 8;
const char* const kFileSystems[] = {"empty", "full", "crowded"};
const int kFileSystemCount = 3;

struct Volume {
    const char* title;
    int fileSystem;     // index into kFileSystems and g_mounts
    const char* below;  // the subvolume below the top, or "" for the top
};
const Volume kVolumes[] = {
    {"an empty volume", 0, ""},
    {"20,000 files", 1, ""},
    {"an empty subvolume", 0, "/volume"},
    {"a subvolume of 20,000 files", 1, "/volume"},
    {"a subvolume beside 5,000 snapshots", 2, "/volume"},
};
const int kVolumeCount = 5;

std::string g_mounts[kFileSystemCount];

// The subvolumes of the set, on the empty file system.
std::string SetVolume(int i) { return g_mounts[0] + "/set" + std::to_string(i); }

std::string VolumePath(int volume) {
    return g_mounts[kVolumes[volume].fileSystem] + kVolumes[volume].below;
}

// Where the bare calls put their snapshot, at the root of the volume's mount as the store
// is: a plain folder (in the tree of the mount's top), or a subvolume of its own as the
// store is one.
const char* const kBareTargets[] = {"/bare-snapshots", "/bare-subvolume"};

std::string BareTarget(int volume, int target) {
    return g_mounts[kVolumes[volume].fileSystem] + kBareTargets[target];
}

bool WriteSmallFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    const std::string content(kSmallFileBytes, 'x');
    return fd.Valid() && ::write(fd.Get(), content.data(), content.size()) ==
                             static_cast<ssize_t>(content.size());
}

bool FillFolder(const std::string& folder, std::string& error) {
    for (int file = 0; file < kManyFiles; ++file)
        if (!WriteSmallFile(folder + "/file" + std::to_string(file))) {
            error = "cannot fill " + folder;
            return false;
        }
    return true;
}

// Snapshots that others keep, in a folder of their own on the file system of `volume`.
bool MakeOtherSnapshots(const std::string& mount, std::string& error) {
    const std::string folder = mount + "/others";
    UniqueFd source(::open((mount + "/volume").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (::mkdir(folder.c_str(), 0755) != 0 || !source.Valid()) {
        error = "cannot make " + folder;
        return false;
    }
    UniqueFd target(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (int i = 0; i < kOtherSnapshots; ++i)
        if (CreateReadOnlySnapshot(source.Get(), target.Get(), std::to_string(i).c_str()) != 0) {
            error = "cannot snapshot into " + folder;
            return false;
        }
    return true;
}

bool MakeVolumes(testing::ScratchArea& area, std::string& error) {
    for (int fileSystem = 0; fileSystem < kFileSystemCount; ++fileSystem) {
        const std::string& mount = g_mounts[fileSystem];
        if (!area.MountBtrfs(kFileSystems[fileSystem], 512, g_mounts[fileSystem], error))
            return false;
        if (::mkdir((mount + kBareTargets[0]).c_str(), 0700) != 0 ||
            !testing::MakeSubvolume(mount + kBareTargets[1]) ||
            !testing::MakeSubvolume(mount + "/volume")) {
            error = "cannot make the folders of " + mount;
            return false;
        }
    }
    for (int i = 0; i < kSetVolumes; ++i)
        if (!testing::MakeSubvolume(SetVolume(i))) {
            error = "cannot make " + SetVolume(i);
            return false;
        }
    if (!FillFolder(g_mounts[1], error) || !FillFolder(g_mounts[1] + "/volume", error) ||
        !MakeOtherSnapshots(g_mounts[2], error))
        return false;
    ::sync();
    return true;
}

// The floor: the same snapshot made and deleted with the kernel's calls alone, in the
// folder `target` of kBareTargets.
void BareKernelCalls(benchmark::State& state, int target) {
    const int volume = static_cast<int>(state.range(0));
    UniqueFd source(::open(VolumePath(volume).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    UniqueFd folder(::open(BareTarget(volume, target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (auto _ : state) {
        if (CreateReadOnlySnapshot(source.Get(), folder.Get(), "snapshot") != 0 ||
            DestroySubvolume(folder.Get(), "snapshot") != 0 || CommitTransaction(folder.Get()) != 0)
            state.SkipWithError("a kernel call failed");
    }
}

void BM_BareKernelCalls(benchmark::State& state) { BareKernelCalls(state, 0); }
void BM_BareKernelCallsInASubvolume(benchmark::State& state) { BareKernelCalls(state, 1); }

// VssStartBackup and VssBackupComplete of the public class.
void BM_QuorlinCycle(benchmark::State& state) {
    std::wstring path = FromUtf8(VolumePath(static_cast<int>(state.range(0))) + "/");
    std::vector<wchar_t> source(path.begin(), path.end());
    source.push_back(0);
    std::vector<wchar_t> snapshot(8192);
    for (auto _ : state) {
        CQuorlin agent;
        int length = 0;
        if (agent.VssStartBackup(source.data(), snapshot.data(), length) != QUORLIN_RESULT_OK ||
            agent.VssBackupComplete() != QUORLIN_RESULT_OK) {
            state.SkipWithError("VssStartBackup or VssBackupComplete failed");
            break;
        }
    }
}

// The floor of a set: its 8 snapshots taken one after another into one folder (as the
// service took them before it took them at once), deleted, and one commit.
void BM_BareSequentialSnapshots(benchmark::State& state) {
    std::vector<UniqueFd> sources;
    for (int i = 0; i < kSetVolumes; ++i)
        sources.emplace_back(::open(SetVolume(i).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    UniqueFd folder(::open(BareTarget(0, 0).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (auto _ : state) {
        bool failed = false;
        for (int i = 0; i < kSetVolumes; ++i)
            failed |= CreateReadOnlySnapshot(sources[i].Get(), folder.Get(),
                                             std::to_string(i).c_str()) != 0;
        for (int i = 0; i < kSetVolumes; ++i)
            failed |= DestroySubvolume(folder.Get(), std::to_string(i).c_str()) != 0;
        if (failed || CommitTransaction(folder.Get()) != 0)
            state.SkipWithError("a kernel call failed");
    }
}

// VssStartBackup2 over the 8 subvolumes, and VssBackupComplete.
void BM_QuorlinSet(benchmark::State& state) {
    std::vector<std::wstring> sources;
    for (int i = 0; i < kSetVolumes; ++i)
        sources.push_back(FromUtf8(SetVolume(i) + "/"));
    std::vector<std::vector<wchar_t>> buffers(kSetVolumes, std::vector<wchar_t>(8192));
    std::vector<wchar_t*> sourcePointers, bufferPointers;
    for (int i = 0; i < kSetVolumes; ++i) {
        sourcePointers.push_back(&sources[i][0]);
        bufferPointers.push_back(buffers[i].data());
    }
    int whole = 0, sets = 0;
    for (auto _ : state) {
        CQuorlin agent;
        _Quorlin_Set_Instant instant = {};
        if (agent.VssStartBackup2(sourcePointers.data(), bufferPointers.data(), kSetVolumes) !=
                QUORLIN_RESULT_OK ||
            agent.VssSetInstant(instant) != QUORLIN_RESULT_OK ||
            agent.VssBackupComplete() != QUORLIN_RESULT_OK) {
            state.SkipWithError("VssStartBackup2 or VssBackupComplete failed");
            break;
        }
        ++sets;
        whole += instant.wholeSet != 0 && instant.tries == 1;
    }
    state.counters["whole_first_try"] = sets > 0 ? 100.0 * whole / sets : 0;
}

// Milliseconds of wall time, repeated so that medians and minimums can be compared.
void ConfigureTimes(benchmark::internal::Benchmark* benchmark) {
    benchmark->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark->Repetitions(10)->DisplayAggregatesOnly();
    benchmark->ComputeStatistics("min", [](const std::vector<double>& values) {
        return *std::min_element(values.begin(), values.end());
    });
}

void Configure(benchmark::internal::Benchmark* benchmark) {
    for (int volume = 0; volume < kVolumeCount; ++volume)
        benchmark->Arg(volume);
    benchmark->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark->Repetitions(10)->DisplayAggregatesOnly();
    benchmark->ComputeStatistics("min", [](const std::vector<double>& values) {
        return *std::min_element(values.begin(), values.end());
    });
}

BENCHMARK(BM_BareKernelCalls)->Apply(Configure);
BENCHMARK(BM_BareKernelCallsInASubvolume)->Apply(Configure);
BENCHMARK(BM_QuorlinCycle)->Apply(Configure);
BENCHMARK(BM_BareSequentialSnapshots)->Apply(ConfigureTimes);
BENCHMARK(BM_QuorlinSet)->Apply(ConfigureTimes);

// The console report, then the cycle's time over the bare calls' on each volume.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (!run.error_occurred &&
                (run.aggregate_name == "median" || run.aggregate_name == "min"))
                times_[run.aggregate_name + " " + run.run_name.function_name + "/" +
                       run.run_name.args] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() const {
        for (const char* statistic : {"median", "min"})
            for (int volume = 0; volume < kVolumeCount; ++volume) {
                const std::string arg = "/" + std::to_string(volume);
                const double cycle = Time(statistic, "BM_QuorlinCycle" + arg);
                const double bare = Time(statistic, "BM_BareKernelCalls" + arg);
                const double inSubvolume = Time(statistic, "BM_BareKernelCallsInASubvolume" + arg);
                if (cycle <= 0 || bare <= 0 || inSubvolume <= 0)
                    continue;
                std::printf(
                    "%s, on %s: the cycle %.2f ms; the bare calls %.2f ms (%.2f x), "
                    "into a subvolume %.2f ms (%.2f x)\n",
                    statistic, kVolumes[volume].title, cycle, bare, cycle / bare, inSubvolume,
                    cycle / inSubvolume);
            }
        for (const char* statistic : {"median", "min"}) {
            const double set = Time(statistic, "BM_QuorlinSet/");
            const double bare = Time(statistic, "BM_BareSequentialSnapshots/");
            if (set > 0 && bare > 0)
                std::printf(
                    "%s, a set of %d subvolumes: %.2f ms; %d bare snapshots one after "
                    "another %.2f ms (%.2f x)\n",
                    statistic, kSetVolumes, set, kSetVolumes, bare, set / bare);
        }
    }

private:
    double Time(const char* statistic, const std::string& name) const {
        const auto found = times_.find(std::string(statistic) + " " + name);
        return found == times_.end() ? 0 : found->second;
    }

    std::map<std::string, double> times_;
};

}  // namespace
}  // namespace quorlin

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const std::string unavailable = quorlin::testing::BtrfsUnavailableReason();
    if (!unavailable.empty()) {
        std::printf("btrfs_cycle_bench skipped: %s\n", unavailable.c_str());
        return 0;
    }
    quorlin::testing::ScratchArea area;
    std::string error;
    if (!area.Create(error) || !quorlin::MakeVolumes(area, error)) {
        std::fprintf(stderr, "btrfs_cycle_bench: %s\n", error.c_str());
        return 1;
    }
    quorlin::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
