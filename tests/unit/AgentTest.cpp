#include "Quorlin.h"

#include "diag/TraceOptions.h"
#include "agent/AgentRecords.h"
#include "support/FakeHost.h"
#include "support/ScriptedRequester.h"
#include "support/TraceState.h"

#include <gtest/gtest.h>

#include <new>

namespace quorlin {
namespace {

using testing::FakeHost;
using testing::ScriptedRequester;

// Reads the agent's fields.
class Probe : public CQuorlin {
public:
    using CQuorlin::CQuorlin;
    using CQuorlin::m_abortNeeded;
    using CQuorlin::m_backupComponents;
    using CQuorlin::m_backupInProgress;
    using CQuorlin::m_backupType;
    using CQuorlin::m_reservedOption;
    using CQuorlin::m_snapshotCreated;
    using CQuorlin::m_snapshotSetId;
    using CQuorlin::m_volumes;
    using CQuorlin::m_withWriters;
};

HANDLE Handle(intptr_t n) { return reinterpret_cast<HANDLE>(n); }

class AgentTest : public ::testing::Test {
protected:
    FakeHost host;
    FakeHost::Scope hostScope{host};
    testing::TraceState trace;
};

TEST_F(AgentTest, NewAgentHoldsNothing) {
    Probe agent;
    EXPECT_TRUE(agent.m_snapshotSetId == GUID_NULL);
    EXPECT_FALSE(agent.m_snapshotCreated);
    EXPECT_TRUE(agent.m_abortNeeded);
    EXPECT_TRUE(agent.m_withWriters);
    EXPECT_EQ(1, agent.m_backupType);
    EXPECT_EQ(1, agent.m_reservedOption);
    EXPECT_EQ(0, agent.m_backupInProgress);
    EXPECT_FALSE(agent.m_backupComponents);
    EXPECT_TRUE(agent.m_volumes.empty());
}

TEST_F(AgentTest, SettingByIdentifier) {
    struct Case {
        int id;
        int value;
        int backupType;
        int traceLevel;
        DWORD waitLimit;
    } const cases[] = {
        {0, 2, 2, 0, 0},  {0, 0, 0, 0, 0},   {0, -1, -1, 0, 0}, {1, 4, 1, 4, 0},
        {1, 0, 1, 0, 0},  {1, -3, 1, -3, 0}, {2, 5, 1, 0, 5},   {2, 0, 1, 0, 0},
        {2, -5, 1, 0, 0}, {-1, 5, 1, 0, 0},  {3, 5, 1, 0, 0},   {2, 2147483647, 1, 0, 2147483647u},
    };
    for (const Case& c : cases) {
        Probe agent;
        g_traceLevel = 0;
        agent.VssSetting(c.id, c.value);
        EXPECT_EQ(c.backupType, agent.m_backupType) << c.id << "," << c.value;
        EXPECT_EQ(c.traceLevel, g_traceLevel) << c.id << "," << c.value;
        EXPECT_EQ(c.waitLimit, WaitLimitOf(&agent)) << c.id << "," << c.value;
    }
}

// The limit is the agent's own: a later setting replaces it, copies carry it, and an agent
// made where one went starts without.
TEST_F(AgentTest, WaitLimitBelongsToItsAgent) {
    alignas(Probe) unsigned char place[sizeof(Probe)];
    Probe* first = new (place) Probe;
    first->VssSetting(QUORLIN_SETTING_WAIT_LIMIT, 300);
    Probe other;
    EXPECT_EQ(0u, WaitLimitOf(&other));
    Probe copy(*first);
    other = *first;
    first->VssSetting(QUORLIN_SETTING_WAIT_LIMIT, 40);
    EXPECT_EQ(40u, WaitLimitOf(first));
    EXPECT_EQ(300u, WaitLimitOf(&copy));
    EXPECT_EQ(300u, WaitLimitOf(&other));
    other = Probe();
    EXPECT_EQ(0u, WaitLimitOf(&other));
    const Probe& same = copy;
    copy = same;
    EXPECT_EQ(300u, WaitLimitOf(&copy));
    first->~Probe();
    Probe* second = new (place) Probe;
    EXPECT_EQ(0u, WaitLimitOf(second));
    second->~Probe();
}

TEST_F(AgentTest, SettingRecordAppliesOnlyNonZeroMembers) {
    Probe agent;
    agent.VssSetting(_Quorlin_Setting{2, 4, Handle(7)});
    EXPECT_EQ(2, agent.m_backupType);
    EXPECT_EQ(4, g_traceLevel);
    EXPECT_EQ(Handle(7), g_traceConsole);

    agent.VssSetting(_Quorlin_Setting{0, 0, nullptr});
    EXPECT_EQ(2, agent.m_backupType);
    EXPECT_EQ(4, g_traceLevel);
    EXPECT_EQ(Handle(7), g_traceConsole);

    Probe other;
    other.VssSetting(_Quorlin_Setting{0, 0, Handle(9)});
    EXPECT_EQ(1, other.m_backupType);
    EXPECT_EQ(4, g_traceLevel);
    EXPECT_EQ(Handle(9), g_traceConsole);
}

TEST_F(AgentTest, SettingsWriteNoTrace) {
    g_traceLevel = 4;
    Probe agent;
    agent.VssSetting(0, 2);
    agent.VssSetting(_Quorlin_Setting{2, 4, nullptr});
    EXPECT_TRUE(host.debugOutput.empty());
}

TEST_F(AgentTest, CopyAndAssignmentShareOneComponentsObject) {
    ScriptedRequester first;
    ScriptedRequester second;
    {
        Probe source;
        source.m_backupComponents = ComPtr<BackupComponents>(&first);
        source.m_backupInProgress = 1;
        source.m_backupType = 2;
        source.m_volumes.push_back(
            _Snapshot_Volume{{L'E', L':', L'\\', 0}, testing::SnapshotId(1)});
        EXPECT_EQ(1u, first.References());

        Probe copy(source);
        EXPECT_EQ(2u, first.References());
        EXPECT_EQ(source.m_backupComponents.Get(), copy.m_backupComponents.Get());
        EXPECT_EQ(1, copy.m_backupInProgress);
        EXPECT_EQ(2, copy.m_backupType);
        ASSERT_EQ(1u, copy.m_volumes.size());
        EXPECT_STREQ(L"E:\\", copy.m_volumes[0].volumePath);

        Probe target;
        target.m_backupComponents = ComPtr<BackupComponents>(&second);
        target = source;
        EXPECT_EQ(3u, first.References());
        EXPECT_EQ(0u, second.References());

        target = target;
        EXPECT_EQ(3u, first.References());
    }
    EXPECT_EQ(0u, first.References());
    EXPECT_EQ(0u, second.References());
}

}  // namespace
}  // namespace quorlin
