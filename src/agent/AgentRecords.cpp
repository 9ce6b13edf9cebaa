#include "agent/AgentRecords.h"

#include <mutex>
#include <unordered_map>

namespace quorlin {

namespace {

struct Record {
    DWORD waitLimit = 0;
    SetRecord set;
};

// Agents work on several threads at once; an agent has an entry once it was given a
// limit or started a backup, until it goes.
struct Records {
    std::mutex mutex;
    std::unordered_map<const void*, Record> byAgent;
};

Records& AllRecords() {
    static Records* records = new Records;  // never destroyed: agents may outlive static data
    return *records;
}

}  // namespace

void SetWaitLimit(const void* agent, int milliseconds) noexcept {
    Records& records = AllRecords();
    std::lock_guard<std::mutex> lock(records.mutex);
    const DWORD limit = milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0;
    const auto found = records.byAgent.find(agent);
    if (found != records.byAgent.end()) {
        found->second.waitLimit = limit;
        return;
    }
    if (limit == 0)
        return;
    try {
        records.byAgent[agent].waitLimit = limit;
    } catch (...) {
        // out of memory: no limit, as before the setting
    }
}

DWORD WaitLimitOf(const void* agent) noexcept {
    Records& records = AllRecords();
    std::lock_guard<std::mutex> lock(records.mutex);
    const auto found = records.byAgent.find(agent);
    return found != records.byAgent.end() ? found->second.waitLimit : 0;
}

void KeepRecordOf(const void* agent) {
    Records& records = AllRecords();
    std::lock_guard<std::mutex> lock(records.mutex);
    records.byAgent.try_emplace(agent);
}

SetRecord SetRecordOf(const void* agent) noexcept {
    Records& records = AllRecords();
    std::lock_guard<std::mutex> lock(records.mutex);
    const auto found = records.byAgent.find(agent);
    return found != records.byAgent.end() ? found->second.set : SetRecord();
}

void SetSetRecord(const void* agent, const SetRecord& record) noexcept {
    Records& records = AllRecords();
    std::lock_guard<std::mutex> lock(records.mutex);
    const auto found = records.byAgent.find(agent);
    if (found != records.byAgent.end())
        found->second.set = record;
}

void CopyRecord(const void* from, const void* to) noexcept {
    if (from == to)
        return;
    Records& records = AllRecords();
    std::lock_guard<std::mutex> lock(records.mutex);
    const auto source = records.byAgent.find(from);
    if (source == records.byAgent.end()) {
        records.byAgent.erase(to);
        return;
    }
    const Record copied = source->second;
    try {
        records.byAgent[to] = copied;
    } catch (...) {
        records.byAgent.erase(to);  // out of memory: no limit, and the set taken for persistent
    }
}

void ForgetRecord(const void* agent) noexcept {
    Records& records = AllRecords();
    std::lock_guard<std::mutex> lock(records.mutex);
    records.byAgent.erase(agent);
}

}  // namespace quorlin
