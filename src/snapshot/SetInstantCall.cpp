// What the held snapshot set is, asked of the snapshot service that took it.
#include "Quorlin.h"

#include "platform/Requester.h"

int CQuorlin::VssSetInstant(_Quorlin_Set_Instant& instant) {
    try {
        if (m_backupInProgress != 1 || !m_backupComponents)
            return QUORLIN_RESULT_REFUSED;
        quorlin::SetInstant set;
        if (m_backupComponents->QuerySetInstant(set) != S_OK)
            return QUORLIN_RESULT_FAILED;
        instant.fileSystems = set.fileSystems;
        instant.oneTransaction = set.oneTransaction;
        instant.wholeSet = set.wholeSet ? 1 : 0;
        instant.tries = set.tries;
        instant.windowMilliseconds = set.windowMilliseconds;
        return QUORLIN_RESULT_OK;
    } catch (...) {
        return QUORLIN_RESULT_FAILED;
    }
}
