#include "Failure.h"
#include "TestFiles.h"
#include "TreeCopy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

namespace qtool {
namespace {

using tooltest::Read;

bool Never() { return false; }

// A folder of its own under the temporary folder, removed at the end.
class TreeCopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("quorlin-tree-" +
                 std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(root_);
    }
    void TearDown() override {
        // Read-only entries must become writable before they can go.
        for (const auto& entry : fs::recursive_directory_iterator(root_))
            if (!fs::is_symlink(entry.symlink_status()))
                fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(root_);
    }

    static void Write(const fs::path& path, const std::string& content) {
        fs::create_directories(path.parent_path());
        tooltest::Write(path, content);
    }
    // Copies `source` to `name` in `folder` and returns what could not be kept.
    std::vector<std::string> Copy(const fs::path& source, const fs::path& folder,
                                  const fs::path& name) {
        std::vector<std::string> lost;
        Progress progress(false, 0, 0);
        TreeCopy(source, source, std::nullopt, Never)
            .CopyTo(folder, name, progress,
                    [&lost](const std::string& sentence) { lost.push_back(sentence); });
        return lost;
    }
    // The files and folders below `folder`, with the temporary files a copy might leave.
    static std::vector<std::string> Names(const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            names.push_back(fs::relative(entry.path(), folder).generic_string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Whether links can be made here (Wine's file system cannot make them).
    bool LinksCanBeMade() {
        std::error_code error;
        fs::create_symlink(root_ / "nowhere", root_ / "probe", error);
        fs::remove(root_ / "probe");
        return !error;
    }

    fs::path root_;
};

const fs::file_time_type kPast = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);

TEST_F(TreeCopyTest, TreeKeepsContentTimesAndPermissions) {
    fs::path source = root_ / "source";
    Write(source / "a.txt", "alpha");
    Write(source / "empty", "");
    Write(source / "nested" / "deeper" / "b.bin", std::string(20 << 20, 'b'));  // several pieces
    fs::permissions(source / "a.txt", fs::perms::owner_read);
    fs::last_write_time(source / "a.txt", kPast);
    // Folders keep the times they have now, which adding entries to their copies would change.

    TreeSize size = TreeCopy(source, source, std::nullopt, Never).Measure();
    EXPECT_EQ(size.files, 3u);
    EXPECT_EQ(size.bytes, 5u + (20u << 20));
    EXPECT_EQ(Copy(source, root_, "copy"), std::vector<std::string>());

    for (const char* name :
         {"", "a.txt", "empty", "nested", "nested/deeper", "nested/deeper/b.bin"}) {
        // Windows does not look up a folder's path with a separator at its end.
        fs::path original = *name ? source / name : source;
        fs::path copy = *name ? root_ / "copy" / name : root_ / "copy";
        ASSERT_TRUE(fs::exists(copy)) << name;
        EXPECT_EQ(fs::status(copy).type(), fs::status(original).type()) << name;
        EXPECT_EQ(fs::status(copy).permissions(), fs::status(original).permissions()) << name;
        EXPECT_EQ(fs::last_write_time(copy), fs::last_write_time(original)) << name;
        if (fs::is_regular_file(original)) {
            EXPECT_EQ(Read(copy), Read(original)) << name;
        }
    }
}

// Whatever is in the way of an entry is replaced, never written through or into, and a
// folder's content is merged into a folder that is there.
TEST_F(TreeCopyTest, WhatIsInTheWayIsReplacedAndFoldersMerge) {
    Write(root_ / "source" / "file", "new");
    Write(root_ / "source" / "folder" / "inner", "inner");
    Write(root_ / "outside" / "secret", "secret");
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> plant;  // puts something in place of the copy
    };
    std::vector<Case> cases = {
        {"nothing", [](const fs::path&) {}},
        {"older copies, one read-only",
         [](const fs::path& at) {
             Write(at / "file", "old and longer");
             fs::permissions(at / "file", fs::perms::owner_read);
             Write(at / "folder" / "kept", "kept");
         }},
        {"a folder for the file and a file for the folder",
         [](const fs::path& at) {
             Write(at / "file" / "deep" / "x", "x");
             Write(at / "folder", "file");
         }},
    };
    if (LinksCanBeMade())
        cases.push_back({"links out of the destination", [this](const fs::path& at) {
                             fs::create_directories(at);
                             fs::create_symlink(root_ / "outside" / "secret", at / "file");
                             fs::create_directory_symlink(root_ / "outside", at / "folder");
                         }});
    else
        std::printf("Links cannot be made here: the destination's links are not tried.\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::path at = root_ / "copies" / c.name;
        c.plant(at);
        fs::create_directories(at);
        EXPECT_EQ(Copy(root_ / "source" / "file", at, "file"), std::vector<std::string>());
        EXPECT_EQ(Copy(root_ / "source" / "folder", at, "folder"), std::vector<std::string>());
        EXPECT_FALSE(fs::is_symlink(at / "file"));
        EXPECT_EQ(Read(at / "file"), "new");
        EXPECT_FALSE(fs::is_symlink(at / "folder"));
        EXPECT_EQ(Read(at / "folder" / "inner"), "inner");
        EXPECT_EQ(Names(root_ / "outside"), std::vector<std::string>{"secret"});
        EXPECT_EQ(Read(root_ / "outside" / "secret"), "secret");
    }
    EXPECT_EQ(Read(root_ / "copies" / "older copies, one read-only" / "folder" / "kept"), "kept");
    EXPECT_EQ(Names(root_ / "copies" / "nothing"),
              (std::vector<std::string>{"file", "folder", "folder/inner"}));
}

TEST_F(TreeCopyTest, UnwritableDestinationIsACopyFailure) {
    Write(root_ / "one.txt", "one");
    try {
        Copy(root_ / "one.txt", root_ / "missing" / "folder", "one.txt");
        ADD_FAILURE() << "copied into a folder that does not exist";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.ExitCode(), kExitCopyFailed);
        EXPECT_NE(std::string(failure.what()).find("missing"), std::string::npos) << failure.what();
    }
}

// A stop is noticed while the tree is measured and while it is copied, within an entry
// or a piece of content, and the copy leaves no temporary file behind.
TEST_F(TreeCopyTest, StopIsNoticedPartWayAndLeavesNoTemporaryFile) {
    fs::path source = root_ / "source";
    for (int i = 0; i < 20; ++i)
        Write(source / ("folder" + std::to_string(i)) / "file", "content");
    Write(source / "large", std::string(40 << 20, 'l'));
    fs::create_directories(root_ / "copy");
    for (int allowed : {5, 25, 45, 60}) {
        SCOPED_TRACE(allowed);
        int asked = 0;
        TreeCopy copy(source, source, std::nullopt, [&] { return ++asked > allowed; });
        Progress progress(false, 0, 0);
        try {
            copy.Measure();
            asked = 0;
            copy.CopyTo(root_ / "copy", "tree", progress, [](const std::string&) {});
            ADD_FAILURE() << "not stopped";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.ExitCode(), kExitInterrupted);
        }
        EXPECT_EQ(asked, allowed + 1);
        for (const std::string& name : Names(root_ / "copy"))
            EXPECT_EQ(name.find(".quorlin-"), std::string::npos) << name;
    }
}

// The snapshot service's store is left out where it is, and a folder of that name
// anywhere else is copied.
TEST_F(TreeCopyTest, OnlyTheStoreIsLeftOut) {
    fs::path source = root_ / "source";
    Write(source / ".quorlin" / "set" / "record", "");
    Write(source / "sub" / ".quorlin" / "mine", "mine");
    TreeCopy copy(source, source, fs::path(".quorlin"), Never);
    EXPECT_EQ(copy.Measure().files, 1u);
    Progress progress(false, 0, 0);
    EXPECT_EQ(copy.CopyTo(root_, "copy", progress, [](const std::string&) {}), 0u);
    EXPECT_EQ(Names(root_ / "copy"),
              (std::vector<std::string>{"sub", "sub/.quorlin", "sub/.quorlin/mine"}));
}

}  // namespace
}  // namespace qtool
