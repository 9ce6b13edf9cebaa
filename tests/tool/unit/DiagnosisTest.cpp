#include "Advice.h"
#include "Diagnosis.h"
#include "Quorlin.h"

#include <gtest/gtest.h>

namespace qtool {
namespace {

struct Case {
    int result;
    const char* report;
    int exitCode;
    std::string expected;  // the whole sentence
};

TEST(Diagnosis, EachReportGivesOneSentenceWithItsRemedy) {
    const std::string action = "could not take a snapshot of /data: ";
    const Case cases[] = {
        {1, "There was a COM failure 0x8004230c - .\\QuorlinClass (505)", kExitFailed,
         action + "the volume does not support snapshots; " + UnsupportedVolumeAdvice() + "."},
        {1, "There was a COM failure 0x80004001 - .\\QuorlinClass (325)", kExitFailed,
         action + "the snapshot service is not available on this system; " +
             ServiceMissingAdvice() + "."},
        {1, "There was a COM failure 0x80070005 - .\\QuorlinClass (570)", kExitFailed,
         action + "access was denied; " + AccessDeniedAdvice(false) + "."},
        {1, "There was a COM failure 0x8004231f - .\\QuorlinClass (572)", kExitFailed,
         action + "there is not enough free space for the snapshot; free some space on the "
                  "volume and try again."},
        {1, "There was a COM failure 0x80042317 - .\\QuorlinClass (572)", kExitFailed,
         action + "the volume holds as many snapshots as it can; delete snapshots that are no "
                  "longer needed and try again."},
        {1, "There was a COM failure 0x80042312 - .\\QuorlinClass (505)", kExitFailed,
         action + "one snapshot set cannot hold that many volumes; snapshot fewer volumes at "
                  "once (at most 64)."},
        {1, "There was a COM failure 0x80070013 - .\\QuorlinClass (505)", kExitFailed,
         action + "the volume is read-only; " + ReadOnlyVolumeAdvice() + "."},
        {1, "There was a COM failure 0x800705b4 - .\\QuorlinClass (572)", kExitFailed,
         action + "a step of the snapshot took longer than the time limit and was cancelled; "
                  "try again when the system is less busy, allow more time with --timeout "
                  "SECONDS, or use --no-writers if a writer does not answer."},
        {1, "There was a COM failure 0x80001234 - .\\QuorlinClass (328)", kExitFailed,
         action + "the snapshot service reported error 0x80001234; run the command again with "
                  "-vv to see each step."},
        {1,
         "There was an error retrieving the volume name from the path. Path: /data Error: No "
         "such file or directory (Error number 2)",
         kExitFailed,
         action + "its volume could not be found (No such file or directory); check that the "
                  "path exists and lies on a mounted local volume."},
        {1, "DoSnapshotSet failed.", kExitFailed,
         action + "the snapshot could not be taken; " + SnapshotFailedAdvice() + "."},
        {1, "Prepare for backup failed.", kExitFailed,
         action + "the writers did not get ready for the backup; try again, or use --no-writers "
                  "to snapshot without them."},
        {1, "", kExitFailed,
         action + "the library gave no reason; run the command again with -vv to see each step."},
        {1, "Something new.", kExitFailed,
         action + "the library reported \"Something new.\"; run the command again with -vv to "
                  "see each step."},
        {QUORLIN_RESULT_REFUSED, "", kExitRefused,
         action + "the library refused: this version of the system is not supported; run "
                  "quorlin on Windows 7 or later, or on Linux."},
        {QUORLIN_RESULT_WRONG_SEQUENCE, "", kExitWrongSequence,
         action + "the library refused: a backup is already in progress; complete the backup "
                  "in progress first."},
    };
    for (const Case& c : cases) {
        Failure failure = DiagnoseFailure("take a snapshot of /data", c.result, c.report, false);
        EXPECT_EQ(failure.ExitCode(), c.exitCode) << c.report;
        EXPECT_EQ(failure.what(), c.expected) << c.report;
    }
}

// Denied although quorlin holds the rights that snapshots need: the sentence gives the
// other reason (on Linux, a mount whose snapshot paths others could redirect).
TEST(Diagnosis, AccessDeniedWithTheRightsSaysWhatElseDeniedIt) {
    const std::string report = "There was a COM failure 0x80070005 - .\\QuorlinClass (505)";
    for (bool privileged : {false, true}) {
        Failure failure = DiagnoseFailure("take a snapshot of /data", 1, report, privileged);
        EXPECT_EQ(failure.what(), "could not take a snapshot of /data: " +
                                      std::string(AccessDeniedCause(privileged)) + "; " +
                                      AccessDeniedAdvice(privileged) + ".");
    }
    EXPECT_NE(std::string(AccessDeniedAdvice(true)), AccessDeniedAdvice(false));
    EXPECT_EQ(std::string(DiagnoseFailure("x", 1, report).what()),
              DiagnoseFailure("x", 1, report, HoldsSnapshotRights()).what());
}

TEST(Diagnosis, WindowsErrorTextKeepsItsMessageWithoutTheLineEnd) {
    Failure failure = DiagnoseFailure(
        "take a snapshot of Q:\\x", 1,
        "There was an error retrieving the volume name from the path. Path: Q:\\x Error: The "
        "system cannot find the path specified.\r\n (Error number 3)");
    EXPECT_NE(std::string(failure.what())
                  .find("its volume could not be found (The system cannot find the path "
                        "specified.); "),
              std::string::npos)
        << failure.what();
}

TEST(Diagnosis, LibraryResultsKeepTheirNumbersAsExitCodes) {
    EXPECT_EQ(ExitCodeForResult(QUORLIN_RESULT_OK), kExitSuccess);
    EXPECT_EQ(ExitCodeForResult(QUORLIN_RESULT_FAILED), 1);
    EXPECT_EQ(ExitCodeForResult(QUORLIN_RESULT_WRONG_SEQUENCE), 99);
    EXPECT_EQ(ExitCodeForResult(QUORLIN_RESULT_REFUSED), 100);
    EXPECT_EQ(ExitCodeForResult(7), kExitFailed);
}

}  // namespace
}  // namespace qtool
