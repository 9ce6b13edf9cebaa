// The store under each of its names, as the copy and the held-snapshot finder tell it.
#include "StoreInCopy.h"
#include "base/posix/StoreIdentity.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace tooltest {
namespace {

struct StoreNameRow {
    const char* path;
    size_t at;  // std::string::npos: no store on the path
    size_t length;
};

TEST(StoreNameInPath, EachOfTheStoresNamesIsFoundAndNothingElse) {
    const size_t none = std::string::npos;
    const StoreNameRow rows[] = {
        {"/srv/.quorlin/1234", 4, 8},     {"/tmp/.quorlin-5f0c2e/1234", 4, 15},
        {"/.quorlin.new-77/x", 0, 15},    {"/.quorlin", 0, 8},
        {"/srv/quorlin/1234", none, 0},   {"/srv/.quorlinx/1234", none, 0},
        {"/srv/a.quorlin/1234", none, 0}, {"/srv/db/.quorlin-1/.quorlin", 7, 10},
    };
    for (const StoreNameRow& row : rows) {
        size_t length = 0;
        EXPECT_EQ(row.at, quorlin::FindStoreName(row.path, length)) << row.path;
        if (row.at != none) {
            EXPECT_EQ(row.length, length) << row.path;
        }
    }
}

struct StoreInCopyRow {
    const char* name;  // made in the copied folder
    mode_t mode;
    uid_t owner;
    bool leftOut;
};

TEST(StoreInCopy, TheStoreIsLeftOutUnderEachOfItsNamesAndAUsersFolderIsCopied) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: the store is root's";
    const StoreInCopyRow rows[] = {
        {".quorlin", 0700, 0, true},
        {".quorlin-4f2a9c", 0700, 0, true},  // on a sticky root everyone may write
        {".quorlin.new-4f2a9c", 0755, 0, true},
        {".quorlin-4f2a9c", 0700, 65534, false},  // a user's
        {".quorlin", 0755, 0, false},             // open to others: not the service's
        {".quorlinx", 0700, 0, false},
    };
    for (const StoreInCopyRow& row : rows) {
        char pattern[] = "/tmp/quorlin-store-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        const std::filesystem::path source(pattern);
        const std::filesystem::path made = source / row.name;
        ASSERT_EQ(0, mkdir(made.c_str(), row.mode));
        ASSERT_EQ(0, chmod(made.c_str(), row.mode));
        ASSERT_EQ(0, chown(made.c_str(), row.owner, 0));
        const std::optional<std::filesystem::path> store = qtool::StoreInCopy(source);
        EXPECT_EQ(row.leftOut, store.has_value()) << row.name;
        if (store) {
            EXPECT_EQ(std::filesystem::path(row.name), *store);
        }
        std::filesystem::remove_all(source);
    }
}

}  // namespace
}  // namespace tooltest
