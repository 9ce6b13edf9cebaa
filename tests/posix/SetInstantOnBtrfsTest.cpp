// A set is one instant per file system: its snapshots there share one transaction, which
// the service checks (taking a split set again), and a host learns what the set came out as.
#include "Quorlin.h"
#include "platform/posix/Utf8.h"
#include "platform/posix/btrfs/BtrfsBackupComponents.h"
#include "posix/BtrfsFixture.h"
#include "posix/OrderedWriter.h"

#include <cwchar>

namespace quorlin {
namespace testing {
namespace {

// VssStartBackup2 over the volumes `volumes`: true when it succeeded, with the set's
// description and each volume's snapshot path.
bool Start(CQuorlin& agent, const std::vector<std::string>& volumes, _Quorlin_Set_Instant& instant,
           std::vector<std::string>& snapshots) {
    std::vector<std::wstring> sources;
    std::vector<std::vector<wchar_t>> buffers(volumes.size(), std::vector<wchar_t>(8192));
    std::vector<wchar_t*> sourcePointers, bufferPointers;
    for (const std::string& volume : volumes)
        sources.push_back(FromUtf8(volume + "/"));
    for (size_t i = 0; i < volumes.size(); ++i) {
        sourcePointers.push_back(&sources[i][0]);
        bufferPointers.push_back(buffers[i].data());
    }
    if (agent.VssStartBackup2(sourcePointers.data(), bufferPointers.data(),
                              static_cast<int>(volumes.size())) != QUORLIN_RESULT_OK ||
        agent.VssSetInstant(instant) != QUORLIN_RESULT_OK)
        return false;
    snapshots.clear();
    for (const auto& buffer : buffers)
        snapshots.push_back(ToUtf8(buffer.data(), std::wcslen(buffer.data())));
    return true;
}

using SetInstantOnBtrfsTest = BtrfsTest;

// Ordered, dependent writes, each synced, across subvolumes: every set that came out as
// one transaction of one file system shows a state that existed, whatever the writer was
// doing. Across two file systems the set says that it is two instants, and its window.
TEST_F(SetInstantOnBtrfsTest, SyncedWritesAreConsistentInEverySetOfOneTransaction) {
    const struct {
        const char* name;
        int onSecond;  // of the four volumes, how many lie on the second file system
        int fileSystems;
    } cases[] = {{"one file system", 0, 1}, {"two file systems", 2, 2}};
    const int kSets = 15;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> volumes;
        for (int i = 0; i < 4; ++i)
            volumes.push_back(
                NewSubvolume("ordered-" + std::to_string(c.onSecond) + "-" + std::to_string(i),
                             i >= 4 - c.onSecond ? SecondBtrfs() : ""));
        OrderedWriter writer(volumes, true);
        ASSERT_TRUE(writer.Running());
        int whole = 0;
        for (int set = 0; set < kSets; ++set) {
            CQuorlin agent;
            _Quorlin_Set_Instant instant = {};
            std::vector<std::string> snapshots;
            ASSERT_TRUE(Start(agent, volumes, instant, snapshots));
            EXPECT_EQ(c.fileSystems, instant.fileSystems);
            EXPECT_GE(instant.tries, 1);
            EXPECT_GT(instant.windowMilliseconds, 0);
            EXPECT_EQ(instant.wholeSet != 0, c.fileSystems == 1 && instant.oneTransaction == 1);
            std::vector<long> counters;
            for (const std::string& snapshot : snapshots)
                counters.push_back(ReadCounter(snapshot + "/" + kCounterFile));
            if (instant.wholeSet) {
                ++whole;
                EXPECT_TRUE(StateExisted(counters)) << counters[0] << " " << counters[1] << " "
                                                    << counters[2] << " " << counters[3];
            }
            EXPECT_EQ(QUORLIN_RESULT_OK, agent.VssBackupComplete());
        }
        RecordProperty(std::string("whole sets of ") + std::to_string(kSets) + ", " + c.name,
                       whole);
    }
}

// The real calls, with the creation generations of the first `splitTries` tries made to
// disagree, as when a set comes out split, and those of later tries to agree.
class SplittingCalls : public VolumeCalls {
public:
    explicit SplittingCalls(int splitTries) : splitTries_(splitTries) {}
    int StartCommit(int fd) override {
        ++tries_;  // once per try: one file system
        return VolumeCalls::StartCommit(fd);
    }
    int CreationGeneration(int dir, const char* name, uint64_t& generation) override {
        const int error = VolumeCalls::CreationGeneration(dir, name, generation);
        generation = tries_ <= splitTries_ ? ++asked_ : 0;
        return error;
    }

private:
    const int splitTries_;
    int tries_ = 0;
    uint64_t asked_ = 0;
};

TEST_F(SetInstantOnBtrfsTest, ASplitSetIsTakenAgainAFewTimesAndThenSaysSo) {
    const struct {
        int splitTries;
        int tries;
        int oneTransaction;
    } cases[] = {{0, 1, 1}, {1, 2, 1}, {3, 4, 1}, {100, 4, 0}};
    const std::vector<std::string> volumes = {NewSubvolume("split-a"), NewSubvolume("split-b")};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.splitTries);
        SplittingCalls calls(c.splitTries);
        ComPtr<BackupComponents> components;
        ASSERT_EQ(S_OK, CreateBtrfsBackupComponents(calls, components));
        VSS_ID setId;
        ASSERT_EQ(S_OK, components->InitializeForBackup(nullptr));
        ASSERT_EQ(S_OK, components->StartSnapshotSet(&setId));
        SetInstant instant;
        EXPECT_EQ(VSS_E_BAD_STATE, components->QuerySetInstant(instant));
        const std::vector<VSS_ID> ids = TakeSet(components, volumes);
        ASSERT_EQ(S_OK, components->QuerySetInstant(instant));
        EXPECT_EQ(c.tries, instant.tries);
        EXPECT_EQ(1, instant.fileSystems);
        EXPECT_EQ(c.oneTransaction, instant.oneTransaction);
        EXPECT_EQ(c.oneTransaction == 1, instant.wholeSet);
        for (const VSS_ID& id : ids)
            EXPECT_TRUE(Exists(DevicePath(components, id))) << "the set that succeeded stays";
        components.Reset();
        EXPECT_TRUE(NothingStored());
    }
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
