#include "Console.h"
#include "Failure.h"
#include "Progress.h"
#include "SourcePath.h"
#include "Text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace qtool {
namespace {

TEST(Text, Utf8AndWideRoundTripBeyondTheBasicPlane) {
    const std::string text = "/data/caf\xC3\xA9/\xE2\x82\xAC/\xF0\x9F\x98\x80.txt";  // é € 😀
    std::wstring wide = WideFromUtf8(text);
    EXPECT_EQ(wide.size(), sizeof(wchar_t) == 2 ? 19u : 18u);  // 😀 is a surrogate pair in UTF-16
    EXPECT_EQ(Utf8FromWide(wide), text);
    EXPECT_EQ(Utf8FromPath(PathFromUtf8(text)), text);
}

// Where names are bytes (Linux) a path that is not UTF-8 reaches the library and comes back
// exactly; elsewhere (Windows) it is a usage error. Also a sequence cut short at the end,
// which must not lose its last bytes (and name another file).
TEST(Text, InvalidUtf8IsCarriedExactlyOrAUsageError) {
    for (const char* text : {"/data/\xFF\xFE", "/data/caf\xC3", "/data/\xE2\x82"}) {
        try {
            const std::wstring wide = WideFromUtf8(text);
            EXPECT_TRUE(kNamesAreBytes) << "accepted " << text;
            EXPECT_EQ(std::wstring::npos, wide.find(L'\xFFFD')) << text;
            EXPECT_EQ(Utf8FromWide(wide), text);
        } catch (const Failure& failure) {
            EXPECT_FALSE(kNamesAreBytes) << "refused " << text;
            EXPECT_EQ(failure.ExitCode(), kExitUsage);
        }
    }
}

// One field of a PATH<TAB>SNAPSHOT-PATH line: as it is unless it could break the line or
// be taken for a quoted one.
TEST(Text, FieldForLineQuotesOnlyWhatCouldBreakTheLine) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/data/plain name", "/data/plain name"},
        {"C:\\Data\\back\\slashes", "C:\\Data\\back\\slashes"},
        {"/data/new\nline", "\"/data/new\\nline\""},
        {"/data/tab\tand\\back", "\"/data/tab\\tand\\\\back\""},
        {"/data/return\r", "\"/data/return\\r\""},
        {"/data/\x01\x1f\x7f\"", "\"/data/\\001\\037\\177\\\"\""},
        {"\"quoted\"", "\"\\\"quoted\\\"\""},
        {"/caf\xC3\xA9", "/caf\xC3\xA9"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FieldForLine(c.first), c.second) << c.first;
}

// A name in an error sentence cannot forge a line of its own.
TEST(Text, NamesInSentencesAreQuotedAsInLines) {
    const std::string forged = "/no/such\rquorlin: \x1b[2Kdone\n";
    const std::string quoted = "\"/no/such\\rquorlin: \\033[2Kdone\\n\"";
    std::string sentence;
    try {
        ResolveSourcePath(forged);
    } catch (const Failure& failure) {
        sentence = failure.what();
    }
    EXPECT_EQ(sentence.rfind(quoted + " cannot be found (", 0), 0u) << sentence;
    EXPECT_EQ(QuotedName(forged), quoted);
    EXPECT_EQ(QuotedName("tar"), "\"tar\"");
}

TEST(Progress, LineShowsShareBytesFilesAndRate) {
    EXPECT_EQ(HumanBytes(0), "0 B");
    EXPECT_EQ(HumanBytes(1023), "1023 B");
    EXPECT_EQ(HumanBytes(1024), "1.0 KiB");
    EXPECT_EQ(HumanBytes(3 * 1024 * 1024 + 512 * 1024), "3.5 MiB");
    EXPECT_EQ(ProgressLine(512, 2048, 1, 4, 2.0),
              "[######..................]  25%  512 B / 2.0 KiB  1/4 files  256 B/s");
    EXPECT_EQ(ProgressLine(0, 0, 3, 3, 0.0),
              "[########################] 100%  0 B / 0 B  3/3 files  0 B/s");
    // A file that grew after it was measured does not overfill the bar.
    EXPECT_EQ(ProgressLine(4096, 2048, 1, 1, 1.0).substr(0, 31), "[########################] 100%");
}

}  // namespace
}  // namespace qtool
