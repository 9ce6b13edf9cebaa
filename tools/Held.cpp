#include "Held.h"

#include "Diagnosis.h"
#include "Text.h"
#include "quorlin/quorlin.h"

#include <algorithm>

namespace qtool {
namespace {

const unsigned long kNoSuchSet = 0x80042308;        // VSS_E_OBJECT_NOT_FOUND
const unsigned long kOwnerRuns = 0x800700AA;        // ERROR_BUSY
const unsigned long kInvalidArgument = 0x80070057;  // E_INVALIDARG

void QUORLIN_CALL Collect(void* context, const quorlin_held_snapshot* snapshot) {
    HeldEntry entry;
    entry.setId = snapshot->set_id;
    entry.snapshotId = snapshot->snapshot_id;
    entry.volume = snapshot->volume;
    entry.snapshotPath = snapshot->snapshot_path;
    entry.persistent = snapshot->persistent != 0;
    entry.ownerPid = snapshot->owner_pid;
    entry.owner = snapshot->owner == QUORLIN_OWNER_LIVES  ? Owner::kLives
                  : snapshot->owner == QUORLIN_OWNER_GONE ? Owner::kGone
                                                          : Owner::kUnknown;
    entry.created = static_cast<std::int64_t>(snapshot->created);
    static_cast<std::vector<HeldEntry>*>(context)->push_back(entry);
}

const char* PathOrNull(const std::string& path) { return path.empty() ? nullptr : path.c_str(); }

std::string OnWhere(const std::string& path) {
    return path.empty() ? "" : " on the volume of " + path;
}

std::string Age(std::int64_t seconds) {
    if (seconds < 0)
        return "?";
    if (seconds < 60)
        return std::to_string(seconds) + "s";
    if (seconds < 3600)
        return std::to_string(seconds / 60) + "m";
    if (seconds < 86400)
        return std::to_string(seconds / 3600) + "h";
    return std::to_string(seconds / 86400) + "d";
}

}  // namespace

const char kHeldHeader[] = "SET\tVOLUME\tCONTEXT\tOWNER\tAGE";

std::vector<HeldEntry> ReadHeld(const std::string& path) {
    std::vector<HeldEntry> entries;
    const unsigned long code = quorlin_held_list(PathOrNull(path), Collect, &entries);
    if (code != 0)
        throw DiagnoseCode("list the held snapshots" + OnWhere(path), code);
    std::stable_sort(entries.begin(), entries.end(), [](const HeldEntry& a, const HeldEntry& b) {
        return a.created != b.created ? a.created < b.created : a.setId < b.setId;
    });
    return entries;
}

std::string HeldLine(const HeldEntry& entry, std::int64_t now) {
    if (entry.deleted)
        return "-\t" + FieldForLine(entry.volume) + "\tdeleted\t" + std::to_string(entry.ownerPid) +
               " holds\t?";
    std::string owner = "unknown";
    if (entry.owner != Owner::kUnknown)
        owner = (entry.ownerPid != 0 ? std::to_string(entry.ownerPid) + " " : std::string()) +
                (entry.owner == Owner::kLives ? "running" : "gone");
    return entry.setId + "\t" + FieldForLine(entry.volume) + "\t" +
           (entry.persistent ? "persistent" : "auto-release") + "\t" + owner + "\t" +
           (entry.created == 0 ? "?" : Age(now - entry.created));
}

long DeleteHeld(const std::string& setId, const std::string& path) {
    const std::string action = (setId.empty() ? std::string("delete the orphaned snapshots")
                                              : "delete snapshot set " + setId) +
                               OnWhere(path);
    long deleted = 0;
    const unsigned long code =
        quorlin_held_delete(PathOrNull(path), setId.empty() ? nullptr : setId.c_str(), &deleted);
    if (code == 0)
        return deleted;
    if (code == kInvalidArgument && !setId.empty())
        throw Failure(kExitUsage, "\"" + setId +
                                      "\" is no snapshot set id; write it as \"quorlin list\" "
                                      "shows it (xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx)");
    if (code == kNoSuchSet)
        throw Failure(kExitFailed, "could not " + action + ": no such set is held" +
                                       "; run \"quorlin list\" to see the held sets");
    if (code == kOwnerRuns) {
        std::string who = "its owner";
        bool persistent = true;
        for (const HeldEntry& entry : ReadHeld(path))
            if (entry.setId == setId) {
                persistent = entry.persistent;
                if (entry.ownerPid != 0)
                    who = "its owner, process " + std::to_string(entry.ownerPid) + ",";
            }
        throw Failure(kExitFailed,
                      "could not " + action + ": " + who + " still runs" +
                          (persistent ? "; delete the set once that process has ended"
                                      : "; an auto-release set goes by itself when its owner "
                                        "ends, so nothing is deleted"));
    }
    throw DiagnoseCode(action, code);
}

}  // namespace qtool
