// What the copy takes for a link, and how it goes past a file that Windows refuses to
// it. Wine refuses files held open without sharing, so that is shown on its files; it
// has no reparse points but links, so for those the decision is shown on its own. Wine
// makes up security descriptors from Unix permissions and has no alternate data streams,
// sparse, compressed or encrypted files: what the copy keeps of those is shown with files
// that the keeping calls tell of (Win32KeepTest.cpp).
#include "Failure.h"
#include "TestFiles.h"
#include "TreeCopy.h"
#include "win32/EntryKinds.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace qtool {
namespace {

using tooltest::Read;
using tooltest::Write;

TEST(Win32EntryKindTest, OnlyNameSurrogatesAreLinks) {
    const DWORD kReparse = FILE_ATTRIBUTE_REPARSE_POINT;
    const DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY;
    const struct {
        const char* name;
        DWORD attributes;
        DWORD tag;
        EntryKind kind;
    } cases[] = {
        {"a file", FILE_ATTRIBUTE_ARCHIVE, 0, EntryKind::kFile},
        {"a folder", kFolder, 0, EntryKind::kFolder},
        {"a tag without the attribute", 0, IO_REPARSE_TAG_SYMLINK, EntryKind::kFile},
        {"a symbolic link to a file", kReparse, IO_REPARSE_TAG_SYMLINK, EntryKind::kOther},
        {"a symbolic link to a folder", kReparse | kFolder, IO_REPARSE_TAG_SYMLINK,
         EntryKind::kOther},
        {"a junction or mount point", kReparse | kFolder, IO_REPARSE_TAG_MOUNT_POINT,
         EntryKind::kOther},
        {"a deduplicated file", kReparse, 0x80000013, EntryKind::kFile},
        {"a WOF compressed file", kReparse, 0x80000017, EntryKind::kFile},
        {"a cloud placeholder", kReparse, 0x9000001A, EntryKind::kFile},
        {"a cloud folder", kReparse | kFolder, 0x9000101A, EntryKind::kFolder},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.kind, EntryKindOf(c.attributes, c.tag)) << c.name;
}

class Win32CopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("quorlin-win32-copy-" +
                 std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(root_ / "source" / "sub");
    }
    void TearDown() override { fs::remove_all(root_); }

    std::vector<std::string> Copy() {
        std::vector<std::string> lost;
        Progress progress(false, 0, 0);
        const fs::path source = root_ / "source";
        TreeCopy(source, source, std::nullopt, [] {
            return false;
        }).CopyTo(root_, "copy", progress, [&lost](const std::string& sentence) {
            lost.push_back(sentence);
        });
        return lost;
    }

    fs::path root_;
};

// A file that the system refuses (here: held open by another without sharing) is named,
// its earlier copy stays, and everything else is copied.
TEST_F(Win32CopyTest, ARefusedFileIsNamedAndTheRestCopied) {
    const fs::path source = root_ / "source";
    Write(source / "held.txt", "held");
    Write(source / "sub" / "free.txt", "free");
    fs::create_directories(root_ / "copy");
    Write(root_ / "copy" / "held.txt", "earlier copy");
    HANDLE held = CreateFileW((source / "held.txt").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    const std::vector<std::string> lost = Copy();
    CloseHandle(held);
    ASSERT_EQ(1u, lost.size());
    EXPECT_EQ(0u, lost[0].find("could not copy " + (source / "held.txt").string() + " ("))
        << lost[0];
    EXPECT_EQ("free", Read(root_ / "copy" / "sub" / "free.txt"));
    EXPECT_EQ("earlier copy", Read(root_ / "copy" / "held.txt"));
}

}  // namespace
}  // namespace qtool
