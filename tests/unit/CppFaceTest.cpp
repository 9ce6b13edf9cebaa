// The header-only C++ face of the C interface (quorlin/quorlin.hpp): paths as
// strings, failures as quorlin::Error, the agent's end completing its backup.
#include "WorkflowFixture.h"

#include "capi/quorlin/quorlin.hpp"

namespace quorlin {
namespace testing {
namespace {

using CppFaceTest = WorkflowTest;

TEST_F(CppFaceTest, StartReturnsThePathAndCompleteEndsTheBackup) {
    ::quorlin::Agent face;
    EXPECT_EQ(Native("D\\Data\\report.doc"), face.Start(Native("C:\\Data\\report.doc")));
    face.Complete();
    EXPECT_EQ("Backup successfully completed.", face.LastReport());

    const std::vector<std::string> paths =
        face.Start(std::vector<std::string>{Native("C:\\a"), Native("E:\\b")});
    EXPECT_EQ((std::vector<std::string>{Native("D\\a"), Native("F\\b")}), paths);
    face.Complete();

    EXPECT_EQ(Native(L"D\\\u00e9"), face.StartWithoutWriters(Native(L"C:\\\u00e9")));
    face.Complete();
    EXPECT_EQ(1, requester.CreatedObjects() - 2);
}

struct FailureCase {
    const char* what;
    const char* failingCall;
    int result;
    const char* message;
    unsigned long code;
    int site;
    std::string explanation;  // what() as well
};

TEST_F(CppFaceTest, FailuresBecomeErrorsWithTheirResultAndReport) {
    const FailureCase cases[] = {
        {"COM failure", "AddToSnapshotSet", QUORLIN_FAILED,
         "There was a COM failure 0x8004230c - .\\QuorlinClass (505)", 0x8004230C, 505,
         quorlin_explain_code(0x8004230C)},
        {"nothing to complete", nullptr, QUORLIN_REFUSED, "Invalid data.", 0, 0,
         "There is no backup to complete; start a backup first (a start call that failed has "
         "cleaned up already)."},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.what);
        ::quorlin::Agent face;
        if (c.failingCall)
            requester.Fail(c.failingCall, VSS_E_VOLUME_NOT_SUPPORTED);
        try {
            if (c.failingCall)
                face.Start(Native("C:\\a"));
            else
                face.Complete();
            ADD_FAILURE() << "no error";
        } catch (const ::quorlin::Error& error) {
            EXPECT_EQ(c.result, error.result());
            EXPECT_EQ(c.message, error.report());
            EXPECT_EQ(c.explanation, error.explanation());
            EXPECT_EQ(c.explanation, error.what());
            EXPECT_EQ(c.code, error.code());
            EXPECT_EQ(c.site, error.site());
        }
        requester.Fail("AddToSnapshotSet", S_OK);
    }
}

TEST_F(CppFaceTest, AMovedAgentCompletesItsBackupOnceWhenItGoes) {
    {
        ::quorlin::Agent first;
        first.Start(Native("C:\\a"));
        ::quorlin::Agent second(std::move(first));
        EXPECT_EQ(nullptr, first.get());
        ::quorlin::Agent third;
        third = std::move(second);
        EXPECT_EQ(1u, requester.References());
    }
    EXPECT_EQ(1u, requester.CallsNamed("BackupComplete()").size());
    EXPECT_EQ(0u, requester.References());
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
