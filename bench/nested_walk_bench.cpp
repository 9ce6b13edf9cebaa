// The command's walk of the subvolumes below a PATH (FindNestedItems) on a real btrfs
// volume, over three trees: a folder whose subvolume holds 1,000 subvolumes beside it and 10
// below it (as a home folder beside a subvolume's snapshots), a subvolume holding 1,000, and
// 300 nested one in another. Needs root and loop devices; elsewhere it says why and does
// nothing.
//
//   build/linux-bench/bench/nested_walk_bench --benchmark_repetitions=5
//
// Each run times one whole walk (the mount table read with it); "found" counts what it
// found, which is the same in every run.
#include "NestedVolumes.h"
#include "base/posix/BtrfsIoctl.h"
#include "base/posix/UniqueFd.h"
#include "posix/ScratchVolume.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>

namespace {

std::string g_paths[3];

// `count` subvolumes sub0... in the folder `folder`; with `nested`, each in the one before.
bool MakeSubvolumes(const std::string& folder, int count, bool nested) {
    quorlin::UniqueFd at(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (int i = 0; i < count && at.Valid(); ++i) {
        const std::string name = nested ? "n" : "sub" + std::to_string(i);
        if (quorlin::CreateSubvolume(at.Get(), name.c_str()) != 0)
            return false;
        if (nested)
            at.Reset(openat(at.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    return at.Valid();
}

bool MakeTrees(quorlin::testing::ScratchArea& area, std::string& error) {
    std::string volume;
    if (!area.Create(error) || !area.MountBtrfs("volume", 512, volume, error))
        return false;
    g_paths[0] = volume + "/beside/path";
    g_paths[1] = volume + "/flat";
    g_paths[2] = volume + "/deep";
    const bool made =
        mkdir((volume + "/beside").c_str(), 0755) == 0 &&
        mkdir((volume + "/beside/others").c_str(), 0755) == 0 &&
        mkdir(g_paths[0].c_str(), 0755) == 0 && MakeSubvolumes(g_paths[0], 10, false) &&
        MakeSubvolumes(volume + "/beside/others", 1000, false) &&
        quorlin::testing::MakeSubvolume(g_paths[1]) && MakeSubvolumes(g_paths[1], 1000, false) &&
        mkdir(g_paths[2].c_str(), 0755) == 0 && MakeSubvolumes(g_paths[2], 300, true);
    if (!made)
        error = "cannot make the trees in " + volume;
    return made;
}

void Walk(benchmark::State& state) {
    const std::string& path = g_paths[state.range(0)];
    size_t found = 0;
    for (auto _ : state)
        found = qtool::FindNestedItems(path).size();
    state.counters["found"] = static_cast<double>(found);
}

BENCHMARK(Walk)
    ->ArgName("tree")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const std::string reason = quorlin::testing::BtrfsUnavailableReason();
    if (!reason.empty()) {
        std::printf("nested_walk_bench skipped: %s\n", reason.c_str());
        return 0;
    }
    quorlin::testing::ScratchArea area;
    std::string error;
    if (!MakeTrees(area, error)) {
        std::fprintf(stderr, "nested_walk_bench: %s\n", error.c_str());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
