// The writer protocol's lines: what each answer means in each phase, and lines cut from a
// pipe's reads however they arrive.
#include "platform/posix/writers/WriterProtocol.h"

#include <gtest/gtest.h>

namespace quorlin {
namespace testing {
namespace {

TEST(WriterProtocolTest, AnswersMeanWhatThePhaseAllows) {
    struct Case {
        WriterPhase phase;
        const char* line;
        WriterAnswer::Kind kind;
        const char* text;
    };
    const Case cases[] = {
        {WriterPhase::kIdentify, "ready", WriterAnswer::kDone, ""},
        {WriterPhase::kIdentify, "name pg main", WriterAnswer::kName, "pg main"},
        {WriterPhase::kIdentify, "path /srv/db/main.sqlite", WriterAnswer::kPath,
         "/srv/db/main.sqlite"},
        {WriterPhase::kIdentify, "path db.sqlite", WriterAnswer::kMalformed,
         "a path that is not absolute in \"path db.sqlite\""},
        {WriterPhase::kIdentify, "name", WriterAnswer::kMalformed, "an empty name in \"name\""},
        {WriterPhase::kPrepare, "name late", WriterAnswer::kMalformed, "the answer \"name late\""},
        {WriterPhase::kPrepare, "prepared", WriterAnswer::kDone, ""},
        {WriterPhase::kFreeze, "frozen", WriterAnswer::kDone, ""},
        {WriterPhase::kFreeze, "thawed", WriterAnswer::kMalformed, "the answer \"thawed\""},
        {WriterPhase::kFreeze, "frozen now", WriterAnswer::kMalformed, "the answer \"frozen now\""},
        {WriterPhase::kThaw, "thawed", WriterAnswer::kDone, ""},
        {WriterPhase::kComplete, "completed", WriterAnswer::kDone, ""},
        {WriterPhase::kFreeze, "error the disk is full", WriterAnswer::kError, "the disk is full"},
        {WriterPhase::kFreeze, "error", WriterAnswer::kError, "no reason given"},
        {WriterPhase::kFreeze, "retry locked\x1b[2J", WriterAnswer::kRetry, "locked?[2J"},
        {WriterPhase::kAbort, "aborted", WriterAnswer::kMalformed, "the answer \"aborted\""},
        {WriterPhase::kFreeze, "", WriterAnswer::kMalformed, "the answer \"\""},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(std::string(PhaseName(test.phase)) + ": " + test.line);
        const WriterAnswer answer = ParseAnswer(test.phase, test.line);
        EXPECT_EQ(test.kind, answer.kind);
        EXPECT_EQ(test.text, answer.text);
    }
    EXPECT_EQ("the answer \"" + std::string(80, 'x') + "...\"",
              ParseAnswer(WriterPhase::kThaw, std::string(1000, 'x')).text);
}

TEST(WriterProtocolTest, CommandsNameTheirPhaseAndFlag) {
    EXPECT_EQ("identify 1", CommandLine(WriterPhase::kIdentify));
    EXPECT_EQ("prepare full", CommandLine(WriterPhase::kPrepare, false));
    EXPECT_EQ("prepare incremental", CommandLine(WriterPhase::kPrepare, true));
    EXPECT_EQ("freeze", CommandLine(WriterPhase::kFreeze));
    EXPECT_EQ("thaw", CommandLine(WriterPhase::kThaw));
    EXPECT_EQ("complete succeeded", CommandLine(WriterPhase::kComplete, true));
    EXPECT_EQ("complete failed", CommandLine(WriterPhase::kComplete, false));
    EXPECT_EQ("abort", CommandLine(WriterPhase::kAbort));
}

TEST(WriterProtocolTest, LinesComeWholeHoweverTheReadsCutThem) {
    struct Case {
        const char* what;
        std::vector<std::string> reads;
        std::vector<std::string> lines;  // "!" marks one that was too long
        std::string rest;                // an unterminated last line
    };
    const std::string limit(8, 'a');
    const Case cases[] = {
        {"one read, several lines",
         {"name x\npath /a\r\nready\n"},
         {"name x", "path /a", "ready"},
         ""},
        {"a line over several reads", {"fro", "", "zen", "\n"}, {"frozen"}, ""},
        {"a line end split from its CR", {"thawed\r", "\n"}, {"thawed"}, ""},
        {"empty lines", {"\n\n"}, {"", ""}, ""},
        {"a line of the limit", {limit + "\n"}, {limit}, ""},
        {"a line over the limit, in one read",
         {limit + "bbb\nready\n"},
         {"!" + limit, "ready"},
         ""},
        {"a line over the limit, over reads",
         {limit + "b", "bbbb", "bb\nready\n"},
         {"!" + limit, "ready"},
         ""},
        {"an unterminated last line", {"ready\nfroz"}, {"ready"}, "froz"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        LineBuffer buffer(limit.size());
        std::vector<std::string> lines;
        std::string line;
        bool tooLong = false;
        for (const std::string& read : test.reads) {
            buffer.Append(read.data(), read.size());
            while (buffer.Next(line, tooLong))
                lines.push_back((tooLong ? "!" : "") + line);
        }
        EXPECT_EQ(test.lines, lines);
        std::string rest;
        EXPECT_EQ(!test.rest.empty(), buffer.Rest(rest, tooLong));
        EXPECT_EQ(test.rest, rest);
        EXPECT_FALSE(buffer.Rest(rest, tooLong));
    }
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
