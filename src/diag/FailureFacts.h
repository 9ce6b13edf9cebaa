// What made a call fail, as the place that met the failure knows it: the numbers and
// the kind of its report line, kept as data beside the line so that nothing has to
// read them back out of the text.
#ifndef QUORLIN_DIAG_FAILURE_FACTS_H
#define QUORLIN_DIAG_FAILURE_FACTS_H

#include <cstdint>
#include <string>

namespace quorlin {

enum class FailureKind {
    kNone,               // no failure known
    kCom,                // a COM or snapshot-service call failed: `code` and `site`
    kVolumeLookup,       // the volume of a path was not found: `code` is the system error
    kGatherCancelled,    // gathering the writers' metadata was cancelled
    kPrepareFailed,      // the writers did not get ready for the backup
    kSnapshotFailed,     // the snapshot set was not taken
    kCompletionFailed,   // the service did not confirm the end of the backup
    kPathTooLong,        // a snapshot path was longer than the room promised for it
    kConsoleWrite,       // the trace console refused a line: `code` is the system error
    kDeletionFailed,     // the snapshot set could not be deleted: `code`
    kOutOfMemory,        // memory ran out
    kUnexpected,         // something else was raised
    kBufferTooSmall,     // a snapshot path did not fit the host's buffer (C interface)
    kInvalidArgument,    // refused: a missing or malformed argument
    kMissingPath,        // refused: a path names nothing that exists: `code` kPathNotFound
    kUnsupportedSystem,  // refused: this version of the system is not supported
    kNothingToComplete,  // refused: no backup is left to complete
    kBackupHeld          // refused: a backup is held (QUORLIN_RESULT_WRONG_SEQUENCE)
};

// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND): the code of a path that does not exist.
const uint32_t kPathNotFound = 0x80070002;

struct FailureFacts {
    FailureKind kind = FailureKind::kNone;
    uint32_t code = 0;    // an HRESULT (kCom, kDeletionFailed) or a system error number
    int site = 0;         // kCom: the site number of the call
    std::wstring detail;  // kVolumeLookup: the system's text for `code`
};

}  // namespace quorlin

#endif  // QUORLIN_DIAG_FAILURE_FACTS_H
