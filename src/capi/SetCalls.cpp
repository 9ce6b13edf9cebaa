// What the held snapshot set is, through the C interface.
#include "capi/CAgent.h"

extern "C" {

int QUORLIN_CALL quorlin_describe_set(quorlin_agent* agent, quorlin_set_instant* instant) {
    if (agent == nullptr || instant == nullptr || !agent->Holding())
        return QUORLIN_REFUSED;
    _Quorlin_Set_Instant set = {};
    const int result = agent->agent.VssSetInstant(set);  // catches everything itself
    if (result != QUORLIN_OK)
        return result;
    instant->file_systems = set.fileSystems;
    instant->one_transaction = set.oneTransaction;
    instant->whole_set = set.wholeSet;
    instant->tries = set.tries;
    instant->window_ms = set.windowMilliseconds;
    return QUORLIN_OK;
}

}  // extern "C"
