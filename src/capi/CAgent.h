// The agent behind the C interface: the class's agent, the snapshot paths of the
// backup it holds, and the report of its last call. It holds the class's agent and
// asks it only through its public calls.
#ifndef QUORLIN_CAPI_C_AGENT_H
#define QUORLIN_CAPI_C_AGENT_H

#include "Quorlin.h"
#include "capi/quorlin/quorlin.h"

#include <string>
#include <vector>

struct quorlin_agent final {
    quorlin_agent() = default;
    quorlin_agent(const quorlin_agent&) = delete;
    quorlin_agent& operator=(const quorlin_agent&) = delete;

    VSS_ID SetId() const noexcept { return agent.SnapshotSetId(); }
    // True while the class holds a backup.
    bool Holding() const noexcept { return agent.BackupHeld(); }

    // After a start or completion call of the class: the paths of a successful start
    // become the held ones; otherwise the paths stay while the class still holds the
    // backup they belong to (a refusal, or a failure before anything changed), and go
    // with it. What is left to complete is the class's to decide.
    void AfterCall(int result, std::vector<std::wstring>& startedPaths) noexcept {
        if (result == QUORLIN_OK)
            snapshots.swap(startedPaths);
        else
            DropPathsUnlessHeld();
    }
    void DropPathsUnlessHeld() noexcept {
        if (!Holding())
            snapshots.clear();
    }

    CQuorlin agent;
    // The snapshot paths of the held backup, one per path of its start call.
    std::vector<std::wstring> snapshots;
    // The last call's report line and explanation in UTF-8, and its COM failure's code
    // and site.
    std::string report;
    std::string explanation;
    unsigned long errorCode = 0;
    int errorSite = 0;
};

#endif  // QUORLIN_CAPI_C_AGENT_H
