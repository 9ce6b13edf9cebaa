// A full start-and-complete cycle on btrfs, beside the same snapshot create-and-delete
// made directly with the ioctls: on a volume with one file and on one with 50,000 files
// (about 1 GB). Needs root and loop devices; elsewhere it says why and does nothing.
//
//   build/linux/bench/btrfs_cycle_bench --benchmark_enable_random_interleaving=true
//
// Each case runs several times; the ratios printed last compare medians.
#include "Quorlin.h"
#include "platform/posix/btrfs/BtrfsIoctl.h"
#include "platform/posix/UniqueFd.h"
#include "platform/posix/Utf8.h"
#include "posix/ScratchVolume.h"
#include "snapshot/Requester.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace quorlin {
namespace {

const int kManyFiles = 50000;
const size_t kSmallFileBytes = 4096;  // 50,000 of these: about 200 MB
const int kLargeFiles = 4;
const size_t kLargeFileBytes = 200u << 20;  // and 800 MB in a few large files

std::string g_volumes[2];  // [0]: one file, [1]: 50,000 files
std::string g_directTarget;

bool WriteBytes(const std::string& path, size_t bytes, char fill) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.Valid())
        return false;
    const std::string chunk(std::min<size_t>(bytes, 1u << 20), fill);
    for (size_t written = 0; written < bytes; written += chunk.size())
        if (::write(fd.Get(), chunk.data(), std::min(chunk.size(), bytes - written)) < 0)
            return false;
    return true;
}

bool FillVolumes(const std::string& mount) {
    g_volumes[0] = mount + "/one-file";
    g_volumes[1] = mount + "/many-files";
    g_directTarget = mount + "/direct";
    if (!testing::MakeSubvolume(g_volumes[0]) || !testing::MakeSubvolume(g_volumes[1]) ||
        ::mkdir(g_directTarget.c_str(), 0700) != 0 ||
        !WriteBytes(g_volumes[0] + "/only.txt", kSmallFileBytes, 'a'))
        return false;
    for (int dir = 0; dir < kManyFiles / 1000; ++dir) {
        const std::string path = g_volumes[1] + "/d" + std::to_string(dir);
        if (::mkdir(path.c_str(), 0755) != 0)
            return false;
        for (int file = 0; file < 1000; ++file)
            if (!WriteBytes(path + "/f" + std::to_string(file), kSmallFileBytes, 'b'))
                return false;
    }
    for (int i = 0; i < kLargeFiles; ++i)
        if (!WriteBytes(g_volumes[1] + "/large" + std::to_string(i), kLargeFileBytes, 'c'))
            return false;
    ::sync();
    return true;
}

// The same snapshot create-and-delete as the service, with the ioctls alone.
void BM_DirectIoctls(benchmark::State& state) {
    UniqueFd volume(::open(g_volumes[state.range(0)].c_str(), O_RDONLY | O_DIRECTORY));
    UniqueFd target(::open(g_directTarget.c_str(), O_RDONLY | O_DIRECTORY));
    for (auto _ : state) {
        if (CreateReadOnlySnapshot(volume.Get(), target.Get(), "snapshot") != 0 ||
            DestroySubvolume(target.Get(), "snapshot") != 0 || CommitTransaction(target.Get()) != 0)
            state.SkipWithError("ioctl failed");
    }
}

// Start and complete through the requester seam, as the writer workflow calls it.
void BM_ServiceCycle(benchmark::State& state) {
    const std::wstring volume = FromUtf8(g_volumes[state.range(0)] + "/");
    for (auto _ : state) {
        ComPtr<BackupComponents> components;
        ComPtr<AsyncOperation> gather, prepare, snapshot, complete;
        VSS_ID setId, snapshotId, notDeleted;
        HRESULT status = E_FAIL;
        LONG deleted = 0;
        SnapshotProperties properties;
        const bool ok =
            CreateVssBackupComponents(components) == S_OK &&
            components->InitializeForBackup(nullptr) == S_OK &&
            components->GatherWriterMetadata(gather) == S_OK && gather->Wait(INFINITE) == S_OK &&
            components->StartSnapshotSet(&setId) == S_OK &&
            components->AddToSnapshotSet(volume.c_str(), GUID_NULL, &snapshotId) == S_OK &&
            components->SetBackupState(true, false, VSS_BT_FULL, false) == S_OK &&
            components->PrepareForBackup(prepare) == S_OK && prepare->Wait(INFINITE) == S_OK &&
            components->DoSnapshotSet(snapshot) == S_OK && snapshot->Wait(INFINITE) == S_OK &&
            snapshot->QueryStatus(&status, nullptr) == S_OK && status == VSS_S_ASYNC_FINISHED &&
            components->GetSnapshotProperties(snapshotId, &properties) == S_OK &&
            components->BackupComplete(complete) == S_OK && complete->Wait(INFINITE) == S_OK &&
            components->DeleteSnapshots(setId, VSS_OBJECT_SNAPSHOT_SET, true, &deleted,
                                        &notDeleted) == S_OK;
        if (!ok)
            state.SkipWithError("service cycle failed");
    }
}

// VssStartBackup and VssBackupComplete of the public class.
void BM_QuorlinCycle(benchmark::State& state) {
    std::wstring path = FromUtf8(g_volumes[state.range(0)] + "/");
    std::vector<wchar_t> source(path.begin(), path.end());
    source.push_back(0);
    std::vector<wchar_t> snapshot(source.size() + 4096);
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

// Milliseconds of wall time, repeated so that the medians can be compared.
void Configure(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark->Repetitions(6)->DisplayAggregatesOnly();
}

BENCHMARK(BM_DirectIoctls)->Apply(Configure);
BENCHMARK(BM_ServiceCycle)->Apply(Configure);
BENCHMARK(BM_QuorlinCycle)->Apply(Configure);

// The console report, then each cycle's median time over the direct ioctls' on the
// same volume.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (!run.error_occurred && run.aggregate_name == "median")
                times_[run.run_name.function_name + "/" + run.run_name.args] =
                    run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() const {
        for (const char* cycle : {"BM_ServiceCycle", "BM_QuorlinCycle"})
            for (const char* arg : {"0", "1"}) {
                const auto direct = times_.find(std::string("BM_DirectIoctls/") + arg);
                const auto measured = times_.find(std::string(cycle) + "/" + arg);
                if (direct == times_.end() || measured == times_.end())
                    continue;
                std::printf("%s on %s: %.2f x the direct ioctls\n", cycle,
                            arg[0] == '0' ? "1 file" : "50,000 files",
                            measured->second / direct->second);
            }
    }

private:
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
    std::string error, mount;
    if (!area.Create(error) || !area.MountBtrfs("bench", 3072, mount, error)) {
        std::fprintf(stderr, "btrfs_cycle_bench: %s\n", error.c_str());
        return 1;
    }
    if (!quorlin::FillVolumes(mount)) {
        std::fprintf(stderr, "btrfs_cycle_bench: cannot fill the volumes under %s\n",
                     mount.c_str());
        return 1;
    }
    quorlin::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
