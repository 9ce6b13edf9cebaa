#include "support/FakeHost.h"
#include "text/Conversion.h"
#include "text/Format.h"

#include <gtest/gtest.h>

namespace quorlin {
namespace {

using testing::FakeHost;

TEST(FormatTextTest, Conversions) {
    EXPECT_EQ(L"CoInitializeSecurity result failure , rc = 80010119\n",
              FormatText(L"CoInitializeSecurity result failure , rc = %0x\n",
                         {static_cast<HRESULT>(0x80010119)}));
    EXPECT_EQ(L"AssertPrivilege returned error, rc:1300\n",
              FormatText(L"AssertPrivilege returned error, rc:%d\n", {1300}));
    EXPECT_EQ(L"0x0 -5 100% x", FormatText(L"0x%x %d 100%% %s", {0u, -5, L"x"}));
    EXPECT_EQ(L"Path: C:\\a Error: Error 2",
              FormatText(L"Path: %s Error: %s", {L"C:\\a", std::wstring(L"Error 2")}));
}

TEST(FormatTextTest, MissingArgumentsPrintNothing) {
    EXPECT_EQ(L"a  b", FormatText(L"a %s b%d", {}));
    EXPECT_EQ(L"50%", FormatText(L"50%", {}));
}

class ConversionTest : public ::testing::Test {
protected:
    FakeHost host;
    FakeHost::Scope scope{host};
};

TEST_F(ConversionTest, OemTextOfEmptyIsNoBuffer) {
    OemText oem = ToOemText(L"");
    EXPECT_EQ(nullptr, oem.bytes.get());
    EXPECT_EQ(0u, oem.size);
}

TEST_F(ConversionTest, OemTextKeepsAsciiAndReplacesOneBytePerUnit) {
    OemText ascii = ToOemText(L"0123456789");
    ASSERT_NE(nullptr, ascii.bytes.get());
    EXPECT_EQ("0123456789", std::string(ascii.bytes.get(), ascii.size));

    OemText mixed = ToOemText(L"a\u00e9b");
    ASSERT_NE(nullptr, mixed.bytes.get());
    EXPECT_EQ("a?b", std::string(mixed.bytes.get(), mixed.size));
}

TEST_F(ConversionTest, AnsiToStringWidensAndReplaces) {
    std::wstring result = L"old";
    AnsiToString(".\\QuorlinClass", result);
    EXPECT_EQ(L".\\QuorlinClass", result);
    AnsiToString("", result);
    EXPECT_EQ(L"", result);
}

TEST(IsSameTextTest, ExactAndCaseSensitive) {
    EXPECT_TRUE(IsSameText(L"E:\\", L"E:\\"));
    EXPECT_FALSE(IsSameText(L"E:\\", L"e:\\"));
    EXPECT_FALSE(IsSameText(L"E:\\", L"E:"));
}

}  // namespace
}  // namespace quorlin
