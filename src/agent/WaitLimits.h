// The time limit of each agent's asynchronous steps (VssSetting id
// QUORLIN_SETTING_WAIT_LIMIT). It is kept beside the agents, keyed by their address,
// so that CQuorlin keeps the size and layout that hosts were built with.
#ifndef QUORLIN_AGENT_WAIT_LIMITS_H
#define QUORLIN_AGENT_WAIT_LIMITS_H

#include "QuorlinTypes.h"

namespace quorlin {

// Sets the limit of `agent` in milliseconds; 0 or less removes it. When memory runs out
// the agent keeps no limit.
void SetWaitLimit(const void* agent, int milliseconds) noexcept;
// The limit of `agent`; 0 when it has none.
DWORD WaitLimitOf(const void* agent) noexcept;
// Gives `to` the limit of `from`, or none.
void CopyWaitLimit(const void* from, const void* to) noexcept;
// Forgets `agent`: called as it goes, so that a later agent at its address starts without.
void ForgetWaitLimit(const void* agent) noexcept;

}  // namespace quorlin

#endif  // QUORLIN_AGENT_WAIT_LIMITS_H
