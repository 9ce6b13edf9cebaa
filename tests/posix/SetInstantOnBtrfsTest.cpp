// A set is one instant per file system: its snapshots there share one transaction, which
// the service checks (taking a split set again), and a host learns what the set came out as.
#include "platform/posix/btrfs/BtrfsBackupComponents.h"
#include "posix/BtrfsFixture.h"
#include "posix/OrderedWriter.h"

namespace quorlin {
namespace testing {
namespace {

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
            VSS_ID setId;
            ComPtr<BackupComponents> components = StartSet(VSS_CTX_BACKUP, setId);
            std::vector<long> counters;
            for (const VSS_ID& id : TakeSet(components, volumes))
                counters.push_back(ReadCounter(DevicePath(components, id) + "/" + kCounterFile));
            SetInstant instant;
            ASSERT_EQ(S_OK, components->QuerySetInstant(instant));
            EXPECT_EQ(c.fileSystems, instant.fileSystems);
            EXPECT_GE(instant.tries, 1);
            EXPECT_GT(instant.windowMilliseconds, 0);
            EXPECT_EQ(instant.wholeSet, c.fileSystems == 1 && instant.oneTransaction == 1);
            if (instant.wholeSet) {
                ++whole;
                EXPECT_TRUE(StateExisted(counters)) << counters[0] << " " << counters[1] << " "
                                                    << counters[2] << " " << counters[3];
            }
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
