// The shared failure table (tests/failures.tsv) through the C interface and its C++ face
// on the real platform: each case gives its result, code, site and explanation, the same
// in both. The other languages' tests read the same table.
#include "capi/quorlin/quorlin.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorlin {
namespace testing {
namespace {

struct Row {
    std::string name, result, code, site, explanation;
};

std::vector<Row> ReadTable() {
    std::ifstream in(QUORLIN_FAILURE_TABLE);
    std::vector<Row> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        Row row;
        std::stringstream split(line);
        for (std::string* field : {&row.name, &row.result, &row.code, &row.site, &row.explanation})
            std::getline(split, *field, '\t');
        rows.push_back(row);
    }
    EXPECT_FALSE(rows.empty()) << QUORLIN_FAILURE_TABLE;
    if (!rows.empty()) {
        EXPECT_EQ("case result code site explanation", rows[0].name + " " + rows[0].result + " " +
                                                           rows[0].code + " " + rows[0].site + " " +
                                                           rows[0].explanation);
        rows.erase(rows.begin());
    }
    return rows;
}

// What a face gave for a case, in the table's words.
std::string Fields(int result, unsigned long code, int site, const std::string& explanation) {
    char text[64];
    std::snprintf(text, sizeof text, "%d\t0x%08lX\t%d\t", result, code, site);
    return text + explanation;
}

// Provokes case `name` with `start` (a start call with the writers) or `complete`, as the
// table's comment says; false for a case unknown here.
bool Provoke(const std::string& name, const std::function<void(const std::string&)>& start,
             const std::function<void()>& complete) {
    const std::string folder = "/dev/shm/quorlin-failure-table";
    ::mkdir(folder.c_str(), 0700);
    std::ofstream(folder + "/file") << "x";
    if (name == "not-btrfs") {
        start(folder + "/file");
    } else if (name == "missing-path") {
        start(folder + "/missing");
    } else if (name == "set-in-creation") {
        ::mkdir("/run/quorlin", 0700);
        const int lock =
            ::open("/run/quorlin/snapshot-set.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        EXPECT_EQ(0, ::flock(lock, LOCK_EX | LOCK_NB));
        start(folder + "/file");
        ::close(lock);
    } else if (name == "complete-without-start") {
        complete();
    } else {
        return false;
    }
    std::remove((folder + "/file").c_str());
    ::rmdir(folder.c_str());
    return true;
}

TEST(FailureTableTest, EachCaseGivesItsResultCodeSiteAndSentenceInCAndCpp) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "the cases need root";
    for (const Row& row : ReadTable()) {
        SCOPED_TRACE(row.name);
        const std::string expected =
            row.result + "\t" + row.code + "\t" + row.site + "\t" + row.explanation;
        quorlin_agent* agent = quorlin_agent_new();
        int result = QUORLIN_OK;
        EXPECT_TRUE(Provoke(
            row.name,
            [&](const std::string& path) {
                result = quorlin_start(agent, path.c_str(), NULL, 0, NULL);
            },
            [&] { result = quorlin_complete(agent); }));
        EXPECT_EQ(expected,
                  Fields(result, quorlin_last_error_code(agent), quorlin_last_error_site(agent),
                         quorlin_last_explanation(agent)));
        quorlin_agent_free(agent);

        // The C++ face: an Error with the same fields, its message the explanation.
        ::quorlin::Agent face;
        std::string raised = "nothing raised";
        auto caught = [&](const std::function<void()>& call) {
            try {
                call();
            } catch (const ::quorlin::Error& error) {
                raised = Fields(error.result(), error.code(), error.site(), error.what());
            }
        };
        Provoke(
            row.name, [&](const std::string& path) { caught([&] { face.Start(path); }); },
            [&] { caught([&] { face.Complete(); }); });
        EXPECT_EQ(expected, raised);
        // A code on its own gets the sentence that a call failing with it gets.
        if (row.code != "0x00000000") {
            EXPECT_EQ(row.explanation, quorlin_explain_code(std::stoul(row.code, nullptr, 16)));
        }
    }
    EXPECT_STREQ("", quorlin_explain_code(0x80001234));
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
