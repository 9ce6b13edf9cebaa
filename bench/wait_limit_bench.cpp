// What a time limit costs a snapshot with a writer: VssStartBackup and VssBackupComplete of
// the public class on real btrfs, with one writer that answers at once, waited for with
// Wait(INFINITE) (no limit) and by polling QueryStatus (a limit that never passes), side by
// side. The writer's operations run on the service's own thread, so a poll finds them
// pending and the wait only notices their end at the next poll. Needs root and loop
// devices; elsewhere it says why and does nothing.
//
//   build/linux/bench/wait_limit_bench --benchmark_enable_random_interleaving=true
#include "Quorlin.h"
#include "platform/posix/Utf8.h"
#include "platform/posix/btrfs/BtrfsBackupComponents.h"
#include "posix/ScratchVolume.h"
#include "posix/TestWriters.h"
#include "platform/Requester.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quorlin {
namespace {

std::string g_volume;

void Cycle(benchmark::State& state) {
    const std::wstring path = FromUtf8(g_volume + "/");
    std::vector<wchar_t> source(path.begin(), path.end());
    source.push_back(0);
    std::vector<wchar_t> snapshot(8192);
    for (auto _ : state) {
        CQuorlin agent;
        agent.VssSetting(QUORLIN_SETTING_WAIT_LIMIT, static_cast<int>(state.range(0)));
        int length = 0;
        if (agent.VssStartBackup(source.data(), snapshot.data(), length) != QUORLIN_RESULT_OK ||
            agent.VssBackupComplete() != QUORLIN_RESULT_OK) {
            state.SkipWithError("VssStartBackup or VssBackupComplete failed");
            break;
        }
    }
}

BENCHMARK(Cycle)
    ->Arg(0)
    ->Arg(600000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(10)
    ->DisplayAggregatesOnly();

// The console report, then the polled cycle's median over the waited one's.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (!run.error_occurred && run.aggregate_name == "median")
                medians_[run.run_name.args] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatio() const {
        const auto waited = medians_.find("0"), polled = medians_.find("600000");
        if (waited != medians_.end() && polled != medians_.end() && waited->second > 0)
            std::printf(
                "median cycle with one writer: no limit %.2f ms, a limit %.2f ms (%.2f x)\n",
                waited->second, polled->second, polled->second / waited->second);
    }

private:
    std::map<std::string, double> medians_;
};

}  // namespace
}  // namespace quorlin

int main(int argc, char** argv) {
    using namespace quorlin;
    benchmark::Initialize(&argc, argv);
    std::string unavailable = testing::BtrfsUnavailableReason();
    if (unavailable.empty())
        unavailable = testing::TestWriters::Unavailable();
    if (!unavailable.empty()) {
        std::printf("wait_limit_bench skipped: %s\n", unavailable.c_str());
        return 0;
    }
    testing::ScratchArea area;
    std::string error;
    if (!area.Create(error) || !area.MountBtrfs("limits", 256, g_volume, error)) {
        std::fprintf(stderr, "wait_limit_bench: %s\n", error.c_str());
        return 1;
    }
    testing::TestWriters writers;
    writers.Add({"app", {g_volume + "/db"}, {}, ""});
    WriterSettings settings;
    settings.folder = writers.Folder();
    SetBackupComponentsFactory([&settings](ComPtr<BackupComponents>& components) {
        return CreateBtrfsBackupComponents(SystemVolumeCalls(), components, settings);
    });
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatio();
    SetBackupComponentsFactory(nullptr);
    benchmark::Shutdown();
    return 0;
}
