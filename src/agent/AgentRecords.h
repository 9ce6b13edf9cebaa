// What each agent keeps beside its fields: its time limit (VssSetting id
// QUORLIN_SETTING_WAIT_LIMIT) and the kind of the snapshot set of its current or last
// backup, with what is left to do for it. It is kept beside the agents, keyed by their
// address, so that CQuorlin keeps the size and layout that hosts were built with.
#ifndef QUORLIN_AGENT_AGENT_RECORDS_H
#define QUORLIN_AGENT_AGENT_RECORDS_H

#include "QuorlinTypes.h"

namespace quorlin {

// The snapshot set of an agent's current or last backup. An agent without a record
// (memory ran out as it was copied) has this record's defaults: its set is taken for a
// persistent one, which is never let go of unknown.
struct SetRecord {
    // The set goes when the last reference to its components object goes (the start calls
    // with writers); else it persists until it is deleted (VssStartBackupNoWriter).
    bool autoRelease = false;
    // The backup has ended (its start call failed, or it was completed) but its set could
    // not be deleted: completing the agent only deletes the set.
    bool onlyDeletionLeft = false;
};

// Sets the limit of `agent` in milliseconds; 0 or less removes it. When memory runs out
// the agent keeps no limit.
void SetWaitLimit(const void* agent, int milliseconds) noexcept;
// The limit of `agent`; 0 when it has none.
DWORD WaitLimitOf(const void* agent) noexcept;

// Makes sure that `agent` has a record, so that SetSetRecord cannot fail for it until
// ForgetRecord. Throws std::bad_alloc when memory runs out.
void KeepRecordOf(const void* agent);
// The set record of `agent`; the defaults when it has no record.
SetRecord SetRecordOf(const void* agent) noexcept;
// Replaces the set record of `agent`; nothing when it has no record.
void SetSetRecord(const void* agent, const SetRecord& record) noexcept;

// Gives `to` the whole record of `from` (or none when memory runs out).
void CopyRecord(const void* from, const void* to) noexcept;
// Forgets `agent`: called as it goes, so that a later agent at its address starts without.
void ForgetRecord(const void* agent) noexcept;

}  // namespace quorlin

#endif  // QUORLIN_AGENT_AGENT_RECORDS_H
