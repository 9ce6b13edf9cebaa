#include "Diagnosis.h"

#include "Advice.h"
#include "Quorlin.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace qtool {
namespace {

struct Reason {
    std::string cause;
    std::string advice;
};

const char kRunVerbose[] = "run the command again with -vv to see each step";

// Reasons for the HRESULTs that a user can act on.
Reason ReasonForCode(std::uint32_t code, bool privileged) {
    switch (code) {
        case 0x8004230C:  // VSS_E_VOLUME_NOT_SUPPORTED
            return {"the volume does not support snapshots", UnsupportedVolumeAdvice()};
        case 0x80070013:  // ERROR_WRITE_PROTECT: a read-only mount
            return {"the volume is read-only", ReadOnlyVolumeAdvice()};
        case 0x80004001:  // E_NOTIMPL
            return {"the snapshot service is not available on this system", ServiceMissingAdvice()};
        case 0x80070005:  // E_ACCESSDENIED
            return {AccessDeniedCause(privileged), AccessDeniedAdvice(privileged)};
        case 0x80042308:  // VSS_E_OBJECT_NOT_FOUND
            return {"the volume was not found", "check that the path is on a mounted local volume"};
        case 0x8004230D:  // VSS_E_OBJECT_ALREADY_EXISTS
            return {"two paths name the same volume in different ways",
                    "write the paths of one volume the same way"};
        case 0x8004231F:  // VSS_E_INSUFFICIENT_STORAGE
            return {"there is not enough free space for the snapshot",
                    "free some space on the volume and try again"};
        case 0x80042316:  // VSS_E_SNAPSHOT_SET_IN_PROGRESS
            return {"another snapshot is being taken", "wait a moment and try again"};
        case 0x80042317:  // VSS_E_MAXIMUM_NUMBER_OF_SNAPSHOTS_REACHED
            return {"the volume holds as many snapshots as it can",
                    "delete snapshots that are no longer needed and try again"};
        case 0x80042312:  // VSS_E_MAXIMUM_NUMBER_OF_VOLUMES_REACHED
            return {"one snapshot set cannot hold that many volumes",
                    "snapshot fewer volumes at once (at most 64)"};
        case 0x80042306:  // VSS_E_PROVIDER_VETO
            return {"the snapshot provider refused the snapshot",
                    "look in the system log for the provider's reason and try again"};
        case 0x800705B4:  // HRESULT_FROM_WIN32(ERROR_TIMEOUT): a step ran past --timeout
            return {"a step of the snapshot took longer than the time limit and was cancelled",
                    "try again when the system is less busy, allow more time with --timeout "
                    "SECONDS, or use --no-writers if a writer does not answer"};
        case 0x80042301:  // VSS_E_BAD_STATE
            return {"the snapshot service was not ready for this step", "try again"};
        default: {
            char text[64];
            std::snprintf(text, sizeof text, "the snapshot service reported error 0x%08X",
                          static_cast<unsigned>(code));
            return {text, kRunVerbose};
        }
    }
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// The system error text inside a report line, without its "(Error number N)" tail.
std::string ErrorTextOf(const std::string& line) {
    std::string::size_type at = line.find(" Error: ");
    if (at == std::string::npos)
        return "";
    std::string text = line.substr(at + 8);
    std::string::size_type tail = text.find(" (Error number");
    if (tail != std::string::npos)
        text.erase(tail);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

Reason ReasonForReport(const std::string& line, bool privileged) {
    if (const unsigned code = ReportedCode(line))
        return ReasonForCode(code, privileged);
    if (StartsWith(line, "There was an error retrieving the volume name from the path.")) {
        std::string error = ErrorTextOf(line);
        return {"its volume could not be found" + (error.empty() ? "" : " (" + error + ")"),
                "check that the path exists and lies on a mounted local volume"};
    }
    if (line == "Prepare for backup failed.")
        return {"the writers did not get ready for the backup",
                "try again, or use --no-writers to snapshot without them"};
    if (line == "GatherWriterMetadata was cancelled.")
        return {"gathering the writers' metadata was cancelled",
                "try again, or use --no-writers to snapshot without them"};
    if (line == "DoSnapshotSet failed.")
        return {"the snapshot could not be taken", SnapshotFailedAdvice()};
    if (line == "Completion of backup failed.")
        return {"the snapshot service did not confirm the end of the backup", kRunVerbose};
    if (StartsWith(line, "Unable to write to the console."))
        return {"the library could not write its trace", "try again"};
    if (line.empty())
        return {"the library gave no reason", kRunVerbose};
    return {"the library reported \"" + line + "\"", kRunVerbose};
}

}  // namespace

int ExitCodeForResult(int result) {
    switch (result) {
        case QUORLIN_RESULT_OK:
            return kExitSuccess;
        case QUORLIN_RESULT_WRONG_SEQUENCE:
            return kExitWrongSequence;
        case QUORLIN_RESULT_REFUSED:
            return kExitRefused;
        default:
            return kExitFailed;
    }
}

Failure DiagnoseCode(const std::string& action, unsigned long code) {
    const Reason reason = ReasonForCode(static_cast<std::uint32_t>(code), HoldsSnapshotRights());
    return Failure(kExitFailed,
                   "could not " + action + ": " + reason.cause + "; " + reason.advice + ".");
}

unsigned ReportedCode(const std::string& reportLine) {
    unsigned code = 0;
    if (std::sscanf(reportLine.c_str(), "There was a COM failure 0x%x", &code) != 1)
        return 0;
    return code;
}

std::string FailureCause(const std::string& reportLine) {
    return ReasonForReport(reportLine, HoldsSnapshotRights()).cause;
}

Failure DiagnoseFailure(const std::string& action, int result, const std::string& reportLine) {
    return DiagnoseFailure(action, result, reportLine, HoldsSnapshotRights());
}

Failure DiagnoseFailure(const std::string& action, int result, const std::string& reportLine,
                        bool privileged) {
    Reason reason;
    if (result == QUORLIN_RESULT_REFUSED)
        reason = {"the library refused: this version of the system is not supported",
                  "run quorlin on Windows 7 or later, or on Linux"};
    else if (result == QUORLIN_RESULT_WRONG_SEQUENCE)
        reason = {"the library refused: a backup is already in progress",
                  "complete the backup in progress first"};
    else
        reason = ReasonForReport(reportLine, privileged);
    return Failure(ExitCodeForResult(result),
                   "could not " + action + ": " + reason.cause + "; " + reason.advice + ".", result,
                   reportLine);
}

}  // namespace qtool
