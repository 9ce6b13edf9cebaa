#include "Diagnosis.h"
#include "Quorlin.h"
#include "quorlin/quorlin.h"

#include <gtest/gtest.h>

namespace qtool {
namespace {

// The sentence is what was attempted and the library's explanation, as the library gave
// it; the exit code is the result's.
TEST(Diagnosis, EachFailureGivesTheLibrarysExplanationAfterWhatWasAttempted) {
    const struct {
        LibraryFailure failure;
        int exitCode;
        std::string expected;  // the whole sentence
    } cases[] = {
        {{1, 0x8004230C, 505, "There was a COM failure 0x8004230c - .\\QuorlinClass (505)",
          "The volume does not support snapshots; choose another."},
         kExitFailed,
         "could not take a snapshot of /data: the volume does not support snapshots; choose "
         "another."},
        {{1, 0, 0, "", ""},
         kExitFailed,
         "could not take a snapshot of /data: the library gave no reason; run the command again "
         "with -vv to see each step."},
    };
    for (const auto& c : cases) {
        Failure failure = DiagnoseFailure("take a snapshot of /data", c.failure);
        EXPECT_EQ(failure.ExitCode(), c.exitCode) << c.failure.report;
        EXPECT_EQ(failure.what(), c.expected) << c.failure.report;
        EXPECT_EQ(failure.Code(), c.failure.code);
        EXPECT_EQ(failure.Report(), c.failure.report);
    }
}

// A bare code gets the library's sentence for it, or the command's own for a code that has
// none.
TEST(Diagnosis, ACodeAloneGetsTheLibrarysSentenceForIt) {
    EXPECT_EQ(std::string(DiagnoseCode("list the held snapshots", 0x80042316).what()),
              "could not list the held snapshots: " +
                  ExplanationInLine(quorlin_explain_code(0x80042316)));
    EXPECT_STREQ(DiagnoseCode("list the held snapshots", 0x80001234).what(),
                 "could not list the held snapshots: the snapshot service reported error "
                 "0x80001234; run the command again with -vv to see each step.");
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
