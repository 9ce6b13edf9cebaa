// The shared failure table (tests/failures.tsv) through the C interface and its C++ face
// on the real platform: each case gives its result, code, site and explanation, the same
// in both. The other languages' tests read the same table.
#include "capi/quorlin/quorlin.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quorlin {
namespace testing {
namespace {

struct Row {
    std::string name;
    int result = 0;
    unsigned long code = 0;
    int site = 0;
    std::string explanation;
};

std::vector<Row> ReadTable() {
    std::ifstream in(QUORLIN_FAILURE_TABLE);
    EXPECT_TRUE(in.good()) << QUORLIN_FAILURE_TABLE;
    std::vector<Row> rows;
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields;
        std::stringstream split(line);
        for (std::string field; std::getline(split, field, '\t');)
            fields.push_back(field);
        if (header) {
            EXPECT_EQ("case\tresult\tcode\tsite\texplanation", line);
            header = false;
            continue;
        }
        EXPECT_EQ(5u, fields.size()) << line;
        if (fields.size() != 5)
            continue;
        Row row;
        row.name = fields[0];
        row.result = std::stoi(fields[1]);
        row.code = std::stoul(fields[2], nullptr, 16);
        row.site = std::stoi(fields[3]);
        row.explanation = fields[4];
        rows.push_back(row);
    }
    return rows;
}

// Holds the machine-wide lock of set creation, as another set in creation would.
class HeldCreationLock {
public:
    HeldCreationLock() {
        ::mkdir("/run/quorlin", 0700);
        fd_ = ::open("/run/quorlin/snapshot-set.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        EXPECT_GE(fd_, 0);
        EXPECT_EQ(0, ::flock(fd_, LOCK_EX | LOCK_NB));
    }
    ~HeldCreationLock() { ::close(fd_); }

private:
    int fd_ = -1;
};

class FailureTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "the cases need root";
        char folder[] = "/dev/shm/quorlin-failures-XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(folder));
        folder_ = folder;
        onTmpfs_ = folder_ + "/file";
        std::ofstream(onTmpfs_) << "x";
    }
    void TearDown() override {
        if (folder_.empty())
            return;
        std::remove(onTmpfs_.c_str());
        ::rmdir(folder_.c_str());
    }

    // Provokes case `name` with `start` (a start call with the writers on a path) and
    // `complete`; false for a case this test does not know.
    bool Provoke(const std::string& name, const std::function<void(const std::string&)>& start,
                 const std::function<void()>& complete) {
        if (name == "not-btrfs") {
            start(onTmpfs_);
        } else if (name == "missing-path") {
            start(folder_ + "/missing");
        } else if (name == "set-in-creation") {
            HeldCreationLock lock;
            start(onTmpfs_);
        } else if (name == "complete-without-start") {
            complete();
        } else {
            return false;
        }
        return true;
    }

    std::string folder_;
    std::string onTmpfs_;
};

TEST_F(FailureTableTest, EachCaseGivesItsResultCodeSiteAndSentence) {
    const std::vector<Row> rows = ReadTable();
    EXPECT_FALSE(rows.empty());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // The C interface.
        quorlin_agent* agent = quorlin_agent_new();
        int result = QUORLIN_OK;
        ASSERT_TRUE(Provoke(
            row.name,
            [&](const std::string& path) {
                result = quorlin_start(agent, path.c_str(), NULL, 0, NULL);
            },
            [&] { result = quorlin_complete(agent); }));
        EXPECT_EQ(row.result, result);
        EXPECT_EQ(row.code, quorlin_last_error_code(agent));
        EXPECT_EQ(row.site, quorlin_last_error_site(agent));
        EXPECT_EQ(row.explanation, quorlin_last_explanation(agent));
        quorlin_agent_free(agent);

        // Its C++ face: the same, as an Error whose message is the explanation.
        ::quorlin::Agent face;
        bool raised = false;
        auto expectError = [&](const std::function<void()>& call) {
            try {
                call();
            } catch (const ::quorlin::Error& error) {
                raised = true;
                EXPECT_EQ(row.result, error.result());
                EXPECT_EQ(row.code, error.code());
                EXPECT_EQ(row.site, error.site());
                EXPECT_EQ(row.explanation, error.explanation());
                EXPECT_EQ(row.explanation, error.what());
            }
        };
        Provoke(
            row.name, [&](const std::string& path) { expectError([&] { face.Start(path); }); },
            [&] { expectError([&] { face.Complete(); }); });
        EXPECT_TRUE(raised);
    }
}

// A code on its own gets the sentence that a call failing with it gets.
TEST_F(FailureTableTest, ACodeAloneIsExplainedAsTheCallThatFailedWithIt) {
    for (const Row& row : ReadTable()) {
        if (row.code != 0) {
            EXPECT_EQ(row.explanation, quorlin_explain_code(row.code)) << row.name;
        }
    }
    EXPECT_STREQ("", quorlin_explain_code(0));
    EXPECT_STREQ("", quorlin_explain_code(0x80001234));
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
