// How the command ends: its exit codes, and the failure that carries one with the
// sentence shown to the user.
#ifndef QUORLIN_TOOL_FAILURE_H
#define QUORLIN_TOOL_FAILURE_H

#include <stdexcept>
#include <string>

namespace qtool {

// Exit codes of quorlin. The library's results keep their own numbers.
enum ExitCode : int {
    kExitSuccess = 0,
    kExitFailed = 1,          // the library failed (QUORLIN_RESULT_FAILED), or the output
    kExitUsage = 2,           // bad options or arguments, or a PATH that does not exist
    kExitCopyFailed = 3,      // `copy` could not read the snapshot or write DEST
    kExitNotKept = 4,         // `copy` is complete but could not keep something (named)
    kExitWrongSequence = 99,  // the library refused: a backup is in progress
    kExitRefused = 100,       // the library refused before any snapshot work
    kExitCannotRun = 127,     // the command after -- could not be started
    kExitInterrupted = 130    // stopped by Ctrl-C, a signal or the console closing
};

// The exit code for a result of a library start or completion call.
int ExitCodeForResult(int result);

// What a failed library call left, as the library recorded it: its result, the code and
// site of a COM failure (else 0), its report line and its explanation.
struct LibraryFailure {
    int result = 0;
    unsigned long code = 0;
    int site = 0;
    std::string report;
    std::string explanation;
};

// A failure of the command: `what()` is one plain sentence saying what failed and
// what to try, without the "quorlin: " prefix.
class Failure : public std::runtime_error {
public:
    Failure(int exitCode, const std::string& sentence)
        : std::runtime_error(sentence), exitCode_(exitCode) {}
    // A failed library call: also what the library recorded for it.
    Failure(int exitCode, const std::string& sentence, const LibraryFailure& library)
        : std::runtime_error(sentence),
          exitCode_(exitCode),
          fromLibrary_(true),
          library_(library) {}
    int ExitCode() const { return exitCode_; }
    bool FromLibrary() const { return fromLibrary_; }
    int Result() const { return library_.result; }
    // The code of a COM failure, else 0.
    unsigned long Code() const { return library_.code; }
    const std::string& Report() const { return library_.report; }

private:
    int exitCode_;
    bool fromLibrary_ = false;
    LibraryFailure library_;
};

}  // namespace qtool

#endif  // QUORLIN_TOOL_FAILURE_H
