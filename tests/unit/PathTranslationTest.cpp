#include "snapshot/PathTranslation.h"

#include <gtest/gtest.h>

#include <string>

namespace quorlin {
namespace {

struct Translation {
    const wchar_t* path;
    const wchar_t* root;
    const wchar_t* expected;  // with D standing for the device name
};

// The table is written with '\'; each case also runs with '/' substituted.
const Translation kTranslations[] = {
    {L"C:\\Data\\report.doc", L"C:\\", L"D\\Data\\report.doc"},
    {L"c:\\data", L"C:\\", L"D\\data"},
    {L"C:\\", L"C:\\", L"D\\"},
    {L"C:", L"C:\\", L"D\\"},
    {L"D:\\Mounts\\Data\\x.txt", L"D:\\Mounts\\Data\\", L"D\\x.txt"},
    {L"C:\\Dir\\", L"C:\\", L"D\\Dir\\"},
};

std::wstring WithSeparator(std::wstring text, wchar_t separator) {
    for (wchar_t& c : text)
        if (c == L'\\')
            c = separator;
    return text;
}

class PathTranslationTest : public ::testing::TestWithParam<wchar_t> {};

TEST_P(PathTranslationTest, ReplacesTheVolumeRootWithTheDevice) {
    const wchar_t sep = GetParam();
    for (const Translation& t : kTranslations) {
        std::wstring result = L"old contents";
        CalculateSourcePath(L"D", WithSeparator(t.path, sep).c_str(),
                            WithSeparator(t.root, sep).c_str(), result, sep);
        EXPECT_EQ(WithSeparator(t.expected, sep), result) << t.path;
    }
}

TEST_P(PathTranslationTest, DeviceEndingInSeparatorGetsNoSecond) {
    const wchar_t sep = GetParam();
    std::wstring device = std::wstring(L"D") + sep;
    std::wstring result;
    CalculateSourcePath(device.c_str(), WithSeparator(L"C:\\a\\b", sep).c_str(),
                        WithSeparator(L"C:\\", sep).c_str(), result, sep);
    EXPECT_EQ(WithSeparator(L"D\\a\\b", sep), result);
}

TEST_P(PathTranslationTest, EmptyDeviceGivesTheRelativePartAlone) {
    const wchar_t sep = GetParam();
    std::wstring result;
    CalculateSourcePath(L"", WithSeparator(L"C:\\a\\b", sep).c_str(),
                        WithSeparator(L"C:\\", sep).c_str(), result, sep);
    EXPECT_EQ(WithSeparator(L"a\\b", sep), result);
}

TEST_P(PathTranslationTest, CombinePathKeepsALeadingSeparatorOfTheTail) {
    const wchar_t sep = GetParam();
    std::wstring result;
    CombinePath(L"D", WithSeparator(L"\\x", sep).c_str(), result, sep);
    EXPECT_EQ(WithSeparator(L"D\\\\x", sep), result);
}

INSTANTIATE_TEST_SUITE_P(BothSeparators, PathTranslationTest, ::testing::Values(L'\\', L'/'));

TEST(EndsWithCharTest, EmptyTextEndsWithNothing) {
    EXPECT_FALSE(EndsWithChar(L"", L'\\'));
    EXPECT_TRUE(EndsWithChar(L"a\\", L'\\'));
    EXPECT_FALSE(EndsWithChar(L"a\\b", L'\\'));
}

}  // namespace
}  // namespace quorlin
