// The system's message table and code pages, through the real Win32 host seam.
#include "diag/SystemErrorText.h"
#include "platform/Platform.h"
#include "platform/Utf8Text.h"
#include "text/Conversion.h"

#include <gtest/gtest.h>

#include <string>
#include <windows.h>

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

// The C interface's text is what the system's own conversions give: UTF-8 from the host
// as MultiByteToWideChar with MB_ERR_INVALID_CHARS takes it (refusing what is not UTF-8),
// and UTF-16 to the host as WideCharToMultiByte gives it (U+FFFD for an unpaired
// surrogate), paths and text alike.
TEST(Win32TextTest, Utf8TextIsWhatTheSystemConversionsGive) {
    for (const std::string bytes : {"caf\xC3\xA9", "\xF0\x9F\x98\x80", "a\xFF", "\xC0\xAF",
                                    "\xED\xA0\x80", "caf\xC3", "\xF4\x90\x80\x80", "\x80", ""}) {
        SCOPED_TRACE(::testing::PrintToString(bytes));
        const int length = static_cast<int>(bytes.size());
        std::wstring system(bytes.size(), L'\0');
        const int units = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), length,
                                                &system[0], length);
        system.resize(units > 0 ? units : 0);
        std::wstring wide = L"left";
        EXPECT_EQ(units > 0 || length == 0, WideFromUtf8(bytes.c_str(), wide));
        if (units > 0 || length == 0) {
            EXPECT_EQ(system, wide);
        }
    }
    for (const std::wstring wide : {L"caf\u00e9", L"\xD83D\xDE00", L"\xD800", L"a\xDC80z",
                                    L"\xDE00\xD83D", L"\xD83Dx", L""}) {
        SCOPED_TRACE(::testing::PrintToString(wide));
        const int units = static_cast<int>(wide.size());
        std::string system(wide.size() * 3, '\0');
        const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, &system[0],
                                                static_cast<int>(system.size()), nullptr, nullptr);
        system.resize(bytes > 0 ? bytes : 0);
        EXPECT_EQ(system, Utf8FromWide(wide));
        EXPECT_EQ(system, Utf8PathFromWide(wide));
    }
}

}  // namespace
}  // namespace quorlin
