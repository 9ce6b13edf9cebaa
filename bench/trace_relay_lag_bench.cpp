// How late the quorlin command stamps the library's trace lines: the relay stamps a line
// when its first byte reaches its reader thread, not when the library writes it. Each
// iteration waits a millisecond (so that the reader sleeps in its read, as between two
// steps), notes the time, and makes a library call that traces two step lines through
// the real trace console, a pipe. The lag bound is the first line's stamp minus that
// time: what the stamp can be late by, the library's own work before its write included.
// The counters give it in microseconds (median, 99th percentile, worst) beside the
// 100 us resolution of the -vv times.
#include "Quorlin.h"
#include "TraceRelay.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace {

void BM_StampLag(benchmark::State& state) {
    qtool::TraceRelay relay(nullptr);
    CQuorlin agent;
    _Quorlin_Setting setting = {0, 4, relay.Console()};
    agent.VssSetting(setting);
    std::vector<double> lags;
    for (auto _ : state) {
        state.PauseTiming();
        relay.Collect();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const std::size_t before = relay.Lines().size();
        state.ResumeTiming();
        const qtool::TraceClock::time_point called = qtool::TraceClock::now();
        benchmark::DoNotOptimize(agent.VssBackupComplete());
        state.PauseTiming();
        relay.Collect();
        const std::vector<qtool::TracedLine> lines = relay.Lines();
        if (lines.size() > before)
            lags.push_back(
                std::chrono::duration<double, std::micro>(lines[before].at - called).count());
        state.ResumeTiming();
    }
    agent.VssSetting(1, 0);
    std::sort(lags.begin(), lags.end());
    if (!lags.empty()) {
        state.counters["lag_p50_us"] = lags[lags.size() / 2];
        state.counters["lag_p99_us"] = lags[lags.size() * 99 / 100];
        state.counters["lag_max_us"] = lags.back();
    }
}
BENCHMARK(BM_StampLag)->Iterations(2000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
