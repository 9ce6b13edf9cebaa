// What the held snapshot set is, through the C interface.
#include "capi/CAgent.h"
#include "text/GuidText.h"

#include <cstring>

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

int QUORLIN_CALL quorlin_set_id(const quorlin_agent* agent, char* set_id, size_t set_id_size) {
    if (agent == nullptr || set_id == nullptr || set_id_size == 0)
        return QUORLIN_REFUSED;
    set_id[0] = '\0';
    if (agent->SetId() == GUID_NULL)
        return QUORLIN_OK;
    try {
        const std::string text = quorlin::GuidText(agent->SetId());
        if (text.size() + 1 > set_id_size)
            return QUORLIN_BUFFER_TOO_SMALL;
        std::memcpy(set_id, text.c_str(), text.size() + 1);
        return QUORLIN_OK;
    } catch (...) {
        return QUORLIN_FAILED;
    }
}

}  // extern "C"
