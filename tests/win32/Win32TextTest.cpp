// The system's message table and code pages, through the real Win32 host seam.
#include "diag/SystemErrorText.h"
#include "platform/Platform.h"
#include "text/Conversion.h"

#include <gtest/gtest.h>

#include <string>

namespace quorlin {
namespace {

TEST(Win32TextTest, ErrorTextKeepsTheSystemMessageWithItsLineEnd) {
    std::wstring text;
    GetSystemErrorText(5, text);
    EXPECT_EQ(L"Access denied.\r\n (Error number 5)", text);
    GetSystemErrorText(0x2000FFFFu, text);  // no such message
    EXPECT_EQ(L"Error 536936447", text);
    GetSystemErrorText(0xE0000001u, text);
    EXPECT_EQ(L"Error -536870911", text);
}

TEST(Win32TextTest, OemTextIsCodePage437OneBytePerUnit) {
    OemText oem = ToOemText(L"caf\u00e9 \u4e2d!");
    ASSERT_NE(nullptr, oem.bytes.get());
    EXPECT_EQ(std::string("caf\x82 ?!"), std::string(oem.bytes.get(), oem.size));
    EXPECT_EQ(nullptr, ToOemText(L"").bytes.get());
}

TEST(Win32TextTest, AnsiTextWidens) {
    std::wstring wide = L"previous";
    AnsiToString(".\\QuorlinClass", wide);
    EXPECT_EQ(L".\\QuorlinClass", wide);
    AnsiToString("", wide);
    EXPECT_EQ(L"", wide);
}

// A zero-sized output would make the platform answer the size it needs.
TEST(Win32TextTest, ConversionsIntoNoRoomProduceNothing) {
    char narrow[4];
    wchar_t wide[4];
    EXPECT_EQ(0u, PlatformHost().WideToOem(L"abc", 3, narrow, 0));
    EXPECT_EQ(0u, PlatformHost().AnsiToWide("abc", 3, wide, 0));
    EXPECT_EQ(0u, PlatformHost().WideToOem(L"abc", 3, narrow, 2));  // does not fit
}

}  // namespace
}  // namespace quorlin
