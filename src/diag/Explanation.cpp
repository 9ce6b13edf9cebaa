#include "diag/Explanation.h"

#include "platform/Utf8Text.h"

#include <cstdio>
#include <mutex>
#include <unordered_map>

namespace quorlin {
namespace {

struct Reason {
    std::string cause;
    std::string advice;
};

const char kTraceSteps[] = "a trace of every step shows where it failed";
const char kWithoutWriters[] = "try again, or snapshot without the writers";

// Reasons for the HRESULTs that a user can act on; false for the others.
bool ReasonForCode(uint32_t code, bool privileged, Reason& reason) {
    switch (code) {
        case 0x8004230C:  // VSS_E_VOLUME_NOT_SUPPORTED
            reason = {"the volume does not support snapshots", advice::UnsupportedVolume()};
            return true;
        case 0x80070013:  // ERROR_WRITE_PROTECT: a read-only mount
            reason = {"the volume is read-only", advice::ReadOnlyVolume()};
            return true;
        case 0x80004001:  // E_NOTIMPL
            reason = {"the snapshot service is not available on this system",
                      advice::ServiceMissing()};
            return true;
        case 0x80070005:  // E_ACCESSDENIED
            reason = {advice::AccessDeniedCause(privileged),
                      advice::AccessDeniedAdvice(privileged)};
            return true;
        case 0x80042308:  // VSS_E_OBJECT_NOT_FOUND
            reason = {"the volume was not found",
                      "check that the path is on a mounted local volume"};
            return true;
        case 0x8004230D:  // VSS_E_OBJECT_ALREADY_EXISTS
            reason = {"two paths name the same volume in different ways",
                      "write the paths of one volume the same way"};
            return true;
        case 0x8004231F:  // VSS_E_INSUFFICIENT_STORAGE
            reason = {"there is not enough free space for the snapshot",
                      "free some space on the volume and try again"};
            return true;
        case 0x80042316:  // VSS_E_SNAPSHOT_SET_IN_PROGRESS
            reason = {"another snapshot is being taken", "wait a moment and try again"};
            return true;
        case 0x80042317:  // VSS_E_MAXIMUM_NUMBER_OF_SNAPSHOTS_REACHED
            reason = {"the volume holds as many snapshots as it can",
                      "delete snapshots that are no longer needed and try again"};
            return true;
        case 0x80042312:  // VSS_E_MAXIMUM_NUMBER_OF_VOLUMES_REACHED
            reason = {"one snapshot set cannot hold that many volumes",
                      "snapshot fewer volumes at once (at most 64)"};
            return true;
        case 0x80042306:  // VSS_E_PROVIDER_VETO
            reason = {"the snapshot provider refused the snapshot",
                      "look in the system log for the provider's reason and try again"};
            return true;
        case 0x800705B4:  // HRESULT_FROM_WIN32(ERROR_TIMEOUT): a step ran past its time limit
            reason = {"a step of the snapshot took longer than the time limit and was cancelled",
                      "try again when the system is less busy, allow more time, or snapshot "
                      "without the writers if a writer does not answer"};
            return true;
        case kPathNotFound:
            reason = {"the path does not exist", "check the path, or make what it names first"};
            return true;
        case 0x80042301:  // VSS_E_BAD_STATE
            reason = {"the snapshot service was not ready for this step", "try again"};
            return true;
        case 0x800423F2:  // VSS_E_WRITERERROR_TIMEOUT
            reason = {"a writer did not answer in time", kWithoutWriters};
            return true;
        case 0x800423F3:  // VSS_E_WRITERERROR_RETRYABLE
            reason = {"a writer failed for a reason that may pass", "wait a moment and try again"};
            return true;
        case 0x800423F4:  // VSS_E_WRITERERROR_NONRETRYABLE
            reason = {"a writer failed", kWithoutWriters};
            return true;
        default:
            return false;
    }
}

Reason ReasonForUnknownCode(uint32_t code) {
    char text[64];
    std::snprintf(text, sizeof text, "the snapshot service reported error 0x%08X",
                  static_cast<unsigned>(code));
    return {text, kTraceSteps};
}

Reason ReasonForFacts(int result, const FailureFacts& facts, bool privileged) {
    Reason reason;
    switch (facts.kind) {
        case FailureKind::kCom:
        case FailureKind::kMissingPath:
            if (!ReasonForCode(facts.code, privileged, reason))
                reason = ReasonForUnknownCode(facts.code);
            return reason;
        case FailureKind::kVolumeLookup:
            return {"the volume of the path could not be found" +
                        (facts.detail.empty() ? "" : " (" + Utf8FromWide(facts.detail) + ")"),
                    "check that the path exists and lies on a mounted local volume"};
        case FailureKind::kGatherCancelled:
            return {"gathering the writers' metadata was cancelled", kWithoutWriters};
        case FailureKind::kPrepareFailed:
            return {"the writers did not get ready for the backup", kWithoutWriters};
        case FailureKind::kSnapshotFailed:
            return {"the snapshot could not be taken", advice::SnapshotFailed()};
        case FailureKind::kCompletionFailed:
            return {"the snapshot service did not confirm the end of the backup", kTraceSteps};
        case FailureKind::kPathTooLong:
            return {"a snapshot path came out longer than the room promised for it",
                    "take the snapshot of a shorter path"};
        case FailureKind::kConsoleWrite:
            return {"the library could not write its trace",
                    "check the trace console or file, or try again without it"};
        case FailureKind::kDeletionFailed: {
            char text[96];
            std::snprintf(text, sizeof text,
                          "the snapshot set could not be deleted (error 0x%08X) and its snapshots "
                          "remain",
                          static_cast<unsigned>(facts.code));
            return {text, "complete the backup again to retry the deletion"};
        }
        case FailureKind::kOutOfMemory:
            return {"the library ran out of memory", "free some memory and try again"};
        case FailureKind::kBufferTooSmall:
            return {"a snapshot path did not fit its buffer, and the snapshot is held",
                    "ask for the path again with a larger buffer, then complete the backup"};
        case FailureKind::kInvalidArgument:
            return {
                "the library refused an argument of the call (a missing path or buffer, or "
                "text that is not UTF-8)",
                "pass every path and buffer that the call needs"};
        case FailureKind::kUnsupportedSystem:
            return {"the library refused: this version of the system is not supported",
                    "run it on Windows 7 or later, or on Linux"};
        case FailureKind::kNothingToComplete:
            return {"there is no backup to complete",
                    "start a backup first (a start call that failed has cleaned up already)"};
        case FailureKind::kBackupHeld:
            return {"the library refused: a backup is already in progress",
                    "complete the backup in progress first"};
        case FailureKind::kUnexpected:
            return {"the library met an unexpected failure", kTraceSteps};
        case FailureKind::kNone:
            break;
    }
    if (result == 99)
        return ReasonForFacts(result, {FailureKind::kBackupHeld, 0, 0, {}}, privileged);
    return {"the library gave no reason", kTraceSteps};
}

std::string Sentence(const Reason& reason) {
    std::string text = reason.cause + "; " + reason.advice + ".";
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z')
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}

}  // namespace

std::string ExplainFailure(int result, const FailureFacts& facts) {
    if (result == 0)
        return std::string();
    return Sentence(ReasonForFacts(result, facts, advice::HoldsSnapshotRights()));
}

const char* ExplainCode(uint32_t code) {
    // One text per code and rights, made once and kept for the process.
    static std::mutex mutex;
    static std::unordered_map<uint64_t, std::string> texts;
    const bool privileged = advice::HoldsSnapshotRights();
    Reason reason;
    if (!ReasonForCode(code, privileged, reason))
        return "";
    const uint64_t key = (static_cast<uint64_t>(privileged) << 32) | code;
    std::lock_guard<std::mutex> lock(mutex);
    auto found = texts.find(key);
    if (found == texts.end())
        found = texts.emplace(key, Sentence(reason)).first;
    return found->second.c_str();
}

}  // namespace quorlin
