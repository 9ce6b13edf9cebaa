// Construction, copying, destruction and settings of the agent.
#include "Quorlin.h"

#include "diag/TraceOptions.h"
#include "agent/AgentRecords.h"
#include "platform/Requester.h"

CQuorlin::CQuorlin()
    : m_snapshotSetId(GUID_NULL),
      m_snapshotCreated(false),
      m_abortNeeded(true),
      m_withWriters(true),
      m_backupType(1),
      m_reservedOption(1),
      m_backupInProgress(0) {}

// A copy refers to the same backup: it shares the components object.
CQuorlin::CQuorlin(const CQuorlin& other)
    : m_snapshotSetId(other.m_snapshotSetId),
      m_snapshotCreated(other.m_snapshotCreated),
      m_abortNeeded(other.m_abortNeeded),
      m_withWriters(other.m_withWriters),
      m_backupType(other.m_backupType),
      m_reservedOption(other.m_reservedOption),
      m_backupInProgress(other.m_backupInProgress),
      m_backupComponents(other.m_backupComponents) {
    CopyVolumes(other);
    quorlin::CopyRecord(&other, this);
}

CQuorlin& CQuorlin::operator=(const CQuorlin& other) {
    m_snapshotSetId = other.m_snapshotSetId;
    m_snapshotCreated = other.m_snapshotCreated;
    m_abortNeeded = other.m_abortNeeded;
    m_withWriters = other.m_withWriters;
    m_backupType = other.m_backupType;
    m_reservedOption = other.m_reservedOption;
    m_backupInProgress = other.m_backupInProgress;
    m_backupComponents = other.m_backupComponents;
    if (this != &other)
        CopyVolumes(other);
    quorlin::CopyRecord(&other, this);
    return *this;
}

// The volume records are only read back by the next multi-path start, which empties them
// first; when memory runs out while copying them the copy keeps none rather than throwing
// out of the library.
void CQuorlin::CopyVolumes(const CQuorlin& other) noexcept {
    try {
        m_volumes = other.m_volumes;
    } catch (...) {
        m_volumes.clear();
    }
}

void CQuorlin::VssSetting(int id, int value) {
    if (id == QUORLIN_SETTING_BACKUP_TYPE)
        m_backupType = value;
    else if (id == QUORLIN_SETTING_TRACE_LEVEL)
        quorlin::SetTraceLevel(value);
    else if (id == QUORLIN_SETTING_WAIT_LIMIT)
        quorlin::SetWaitLimit(this, value);
}

void CQuorlin::VssSetting(const _Quorlin_Setting& setting) {
    if (setting.backupType != 0)
        m_backupType = setting.backupType;
    if (setting.traceLevel != 0)
        quorlin::SetTraceLevel(setting.traceLevel);
    if (setting.traceConsole != nullptr)
        quorlin::g_traceConsole = setting.traceConsole;
}

bool CQuorlin::BackupHeld() const noexcept { return m_backupInProgress != 0; }

VSS_ID CQuorlin::SnapshotSetId() const noexcept { return m_snapshotSetId; }
