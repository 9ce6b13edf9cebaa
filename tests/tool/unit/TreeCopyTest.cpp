#include "Failure.h"
#include "TreeCopy.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

namespace qtool {
namespace {

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
            fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
        fs::remove_all(root_);
    }

    void Write(const fs::path& path, const std::string& content) {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << content;
    }
    static std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path root_;
};

const fs::file_time_type kPast = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);

TEST_F(TreeCopyTest, TreeKeepsContentTimesAndPermissions) {
    fs::path source = root_ / "source";
    Write(source / "a.txt", "alpha");
    Write(source / "empty", "");
    Write(source / "nested" / "deeper" / "b.bin", std::string(3 << 20, 'b'));  // several chunks
    fs::permissions(source / "a.txt", fs::perms::owner_read);
    fs::last_write_time(source / "a.txt", kPast);
    // Folders keep the times they have now, which adding entries to their copies would change.

    EXPECT_EQ(MeasureTree(source).files, 3u);
    EXPECT_EQ(MeasureTree(source).bytes, 5u + (3u << 20));
    Progress progress(false, 0, 0);
    CopyTree(source, root_ / "copy", progress);

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

TEST_F(TreeCopyTest, FileOverwritesAndFolderMergesIntoWhatIsThere) {
    Write(root_ / "one.txt", "new");
    Write(root_ / "target.txt", "old and longer");
    Progress progress(false, 0, 0);
    CopyTree(root_ / "one.txt", root_ / "target.txt", progress);
    EXPECT_EQ(Read(root_ / "target.txt"), "new");

    Write(root_ / "tree" / "x", "x");
    Write(root_ / "merged" / "kept", "kept");
    CopyTree(root_ / "tree", root_ / "merged", progress);
    EXPECT_EQ(Read(root_ / "merged" / "x"), "x");
    EXPECT_EQ(Read(root_ / "merged" / "kept"), "kept");
}

TEST_F(TreeCopyTest, UnwritableDestinationIsACopyFailure) {
    Write(root_ / "one.txt", "one");
    Progress progress(false, 0, 0);
    try {
        CopyTree(root_ / "one.txt", root_ / "missing" / "folder" / "one.txt", progress);
        ADD_FAILURE() << "copied into a folder that does not exist";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.ExitCode(), kExitCopyFailed);
        EXPECT_NE(std::string(failure.what()).find("missing"), std::string::npos) << failure.what();
    }
}

}  // namespace
}  // namespace qtool
