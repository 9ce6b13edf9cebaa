// VssStartBackup2 over 1,000, 10,000 and 100,000 paths on three volumes, with the
// scripted requester and the fake host seam, neither of them keeping a log.
//
// StartBackup2 times the whole call; DoublesAlone times what the two doubles spend
// answering the same calls on their own (a full path, a volume lookup and snapshot
// properties per path). The library's own time is the difference.
#include "Quorlin.h"

#include "support/FakeHost.h"
#include "support/ScriptedRequester.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

using quorlin::testing::FakeHost;
using quorlin::testing::ScriptedRequester;

const wchar_t* const kRoots[] = {L"A:\\", L"B:\\", L"C:\\"};

// The doubles set up as the benchmarks use them.
struct Doubles {
    Doubles() {
        host.recording = false;
        host.keyOpen = quorlin::Host::KeyOpen::kNotApplicable;
        requester.recording = false;
        for (int v = 0; v < 3; ++v) {
            host.volumeRoots[kRoots[v]] = kRoots[v];
            requester.devices[kRoots[v]] =
                L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy" + std::to_wstring(v + 1);
        }
    }

    FakeHost host;
    FakeHost::Scope hostScope{host};
    ScriptedRequester requester;
    ScriptedRequester::Scope requesterScope{requester};
};

// `count` paths spread over the three volumes in turn, and a buffer for each.
struct Paths {
    explicit Paths(int count) {
        for (int i = 0; i < count; ++i)
            sources.push_back(std::wstring(kRoots[i % 3]) + L"data\\file" + std::to_wstring(i));
        outputs.assign(static_cast<size_t>(count), std::vector<wchar_t>(128));
        for (std::wstring& source : sources)
            sourcePointers.push_back(&source[0]);
        for (std::vector<wchar_t>& output : outputs)
            outputPointers.push_back(output.data());
    }

    std::vector<std::wstring> sources;
    std::vector<std::vector<wchar_t>> outputs;
    std::vector<wchar_t*> sourcePointers;
    std::vector<wchar_t*> outputPointers;
};

void StartBackup2(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Doubles doubles;
    Paths paths(count);
    CQuorlin agent;  // each call replaces the backup of the one before
    for (auto _ : state) {
        const int result =
            agent.VssStartBackup2(paths.sourcePointers.data(), paths.outputPointers.data(), count);
        if (result != QUORLIN_RESULT_OK)
            state.SkipWithError("VssStartBackup2 failed");
    }
    state.SetComplexityN(count);
}

void DoublesAlone(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Doubles doubles;
    Paths paths(count);
    std::vector<VSS_ID> snapshots(3);
    for (int v = 0; v < 3; ++v)
        doubles.requester.AddToSnapshotSet(kRoots[v], GUID_NULL, &snapshots[v]);
    for (auto _ : state) {
        for (int i = 0; i < count; ++i) {
            std::wstring full;
            size_t sizing = 0;
            wchar_t root[MAX_PATH];
            quorlin::SnapshotProperties properties;
            doubles.host.GetFullPathName(paths.sourcePointers[i], full, sizing);
            doubles.host.GetVolumePathName(full.c_str(), root, MAX_PATH);
            doubles.requester.GetSnapshotProperties(snapshots[i % 3], &properties);
            benchmark::DoNotOptimize(properties);
        }
    }
    state.SetComplexityN(count);
}

void ThreeSizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(1000)->Arg(10000)->Arg(100000);
    benchmark->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
}

BENCHMARK(StartBackup2)->Apply(ThreeSizes);
BENCHMARK(DoublesAlone)->Apply(ThreeSizes);

}  // namespace

BENCHMARK_MAIN();
