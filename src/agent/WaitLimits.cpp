#include "agent/WaitLimits.h"

#include <mutex>
#include <unordered_map>

namespace quorlin {

namespace {

// Agents work on several threads at once; only those with a limit have an entry.
struct Limits {
    std::mutex mutex;
    std::unordered_map<const void*, DWORD> byAgent;
};

Limits& AllLimits() {
    static Limits* limits = new Limits;  // never destroyed: agents may outlive static data
    return *limits;
}

}  // namespace

void SetWaitLimit(const void* agent, int milliseconds) noexcept {
    Limits& limits = AllLimits();
    std::lock_guard<std::mutex> lock(limits.mutex);
    limits.byAgent.erase(agent);
    if (milliseconds <= 0)
        return;
    try {
        limits.byAgent[agent] = static_cast<DWORD>(milliseconds);
    } catch (...) {
        // out of memory: no limit, as before the setting
    }
}

DWORD WaitLimitOf(const void* agent) noexcept {
    Limits& limits = AllLimits();
    std::lock_guard<std::mutex> lock(limits.mutex);
    const auto found = limits.byAgent.find(agent);
    return found != limits.byAgent.end() ? found->second : 0;
}

void CopyWaitLimit(const void* from, const void* to) noexcept {
    if (from != to)
        SetWaitLimit(to, static_cast<int>(WaitLimitOf(from)));
}

void ForgetWaitLimit(const void* agent) noexcept { SetWaitLimit(agent, 0); }

}  // namespace quorlin
