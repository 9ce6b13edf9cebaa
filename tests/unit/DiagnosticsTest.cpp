#include "diag/Exceptions.h"
#include "diag/SystemErrorText.h"
#include "support/FakeHost.h"

#include <gtest/gtest.h>

namespace quorlin {
namespace {

using testing::FakeHost;

class SystemErrorTextTest : public ::testing::Test {
protected:
    FakeHost host;
    FakeHost::Scope scope{host};
};

TEST_F(SystemErrorTextTest, FormatsTheMessageAndTheCode) {
    host.systemMessages[5] = L"Access is denied.\r\n";
    host.systemMessages[0] = L"The operation completed successfully.\r\n";
    struct Case {
        unsigned code;
        const wchar_t* expected;
    } const cases[] = {
        {5, L"Access is denied.\r\n (Error number 5)"},
        {0, L"The operation completed successfully.\r\n (Error number 0)"},
        {12345, L"Error 12345"},
        {0x80070005u, L"Error -2147024891"},
        {0xFFFFFFFFu, L"Error -1"},
    };
    for (const Case& c : cases) {
        std::wstring text = L"previous contents";
        GetSystemErrorText(c.code, text);
        EXPECT_EQ(c.expected, text) << c.code;
    }
}

TEST_F(SystemErrorTextTest, AnEmptyMessageCountsAsNone) {
    host.systemMessages[7] = L"";
    std::wstring text;
    GetSystemErrorText(7, text);
    EXPECT_EQ(L"Error 7", text);
}

TEST(ReportLineTest, ComFailureIsLowerCaseHexWithoutLeadingZeros) {
    FakeHost host;
    FakeHost::Scope scope(host);
    struct Case {
        HRESULT hr;
        int site;
        const wchar_t* expected;
    } const cases[] = {
        {static_cast<HRESULT>(0x80004005), 693,
         L"There was a COM failure 0x80004005 - .\\QuorlinClass (693)"},
        {1, 691, L"There was a COM failure 0x1 - .\\QuorlinClass (691)"},
        {static_cast<HRESULT>(0x8000FFFF), 325,
         L"There was a COM failure 0x8000ffff - .\\QuorlinClass (325)"},
        {static_cast<HRESULT>(0x8004230C), 505,
         L"There was a COM failure 0x8004230c - .\\QuorlinClass (505)"},
    };
    for (const Case& c : cases) {
        CComException failure(c.hr, kQuorlinClassSource, c.site);
        EXPECT_EQ(c.expected, failure.ReportLine());
        EXPECT_EQ(c.hr, failure.GetHResult());
        EXPECT_EQ(c.site, failure.GetSourceLine());
    }
}

TEST(ReportLineTest, GetSourceFileReplacesWhatTheStringHeld) {
    FakeHost host;
    FakeHost::Scope scope(host);
    CComException failure(E_FAIL, kQuorlinClassSource, 1);
    std::wstring out = L"something else";
    failure.GetSourceFile(out);
    EXPECT_EQ(L".\\QuorlinClass", out);
}

TEST(ReportLineTest, QuorlinExceptionKeepsItsOwnCopy) {
    wchar_t text[] = L"Completion of backup failed.";
    CQuorlinException failure(text);
    text[0] = L'X';
    EXPECT_STREQ(L"Completion of backup failed.", failure.GetMessageText());
    EXPECT_EQ(L"Completion of backup failed.", failure.ReportLine());
}

TEST(ReportLineTest, RaisingThrowsANewObjectByPointer) {
    try {
        ThrowComFailure(E_FAIL, 325);
    } catch (CComException* e) {
        EXPECT_EQ(325, e->GetSourceLine());
        delete e;
    }
    try {
        ThrowQuorlinFailure(L"DoSnapshotSet failed.", {FailureKind::kSnapshotFailed, 0, 0, {}});
    } catch (CQuorlinException* e) {
        EXPECT_STREQ(L"DoSnapshotSet failed.", e->GetMessageText());
        EXPECT_EQ(FailureKind::kSnapshotFailed, e->Facts().kind);
        delete e;
    }
}

}  // namespace
}  // namespace quorlin
