// The files of a folder that the copy opens ahead: which ones, and that each descriptor
// handed out reads the file asked for and none stays open.
#include "posix/FileContent.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Case {
    const char* what;
    // In listing order: "NAME" a file of 4 KB that begins with its name, "NAME=BYTES" one
    // of that size, "NAME/" a folder, "NAME@" a link, "(NAME)" a file left out of the list.
    std::string entries;
    std::vector<std::string> opens;
    std::string ahead;  // the files open ahead after the last of `opens`
};

class ReadAheadTest : public ::testing::TestWithParam<Case> {};

TEST_P(ReadAheadTest, OpensTheFileAskedForAndTheNextOnesInTheWindow) {
    namespace fs = std::filesystem;
    const fs::path root =
        fs::temp_directory_path() / ("quorlin-read-ahead-" + std::to_string(getpid()));
    fs::create_directory(root);
    std::vector<qtool::Entry> entries;
    std::istringstream words(GetParam().entries);
    for (std::string word; words >> word;) {
        qtool::Entry entry;
        bool listed = word.front() != '(';
        std::string name =
            listed ? word.substr(0, word.find_first_of("=/@")) : word.substr(1, word.size() - 2);
        entry.name = name;
        if (word.back() == '/') {
            entry.kind = qtool::EntryKind::kFolder;
            fs::create_directory(root / name);
        } else if (word.back() == '@') {
            entry.kind = qtool::EntryKind::kLink;
            fs::create_symlink("a", root / name);
        } else {
            entry.kind = qtool::EntryKind::kFile;
            entry.size = word.find('=') == std::string::npos
                             ? 4096
                             : std::stoull(word.substr(word.find('=') + 1));
            std::ofstream(root / name) << name;
            fs::resize_file(root / name, entry.size);
        }
        if (listed)
            entries.push_back(entry);
    }
    auto heldOpen = [&] {
        std::vector<std::string> names;
        for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            fs::path target = fs::read_symlink(fd.path(), error);
            if (!error && target.parent_path() == root)
                names.push_back(target.filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    quorlin::UniqueFd folder(open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    {
        qtool::ReadAhead ahead;
        ahead.Plan(entries);
        for (const std::string& name : GetParam().opens) {
            quorlin::UniqueFd fd = ahead.Open(folder.Get(), name);
            std::string start(name.size(), '\0');
            EXPECT_EQ(pread(fd.Get(), &start[0], start.size(), 0),
                      static_cast<ssize_t>(name.size()));
            EXPECT_EQ(start, name);
        }
        std::istringstream expected(GetParam().ahead);
        EXPECT_EQ(heldOpen(),
                  std::vector<std::string>(std::istream_iterator<std::string>(expected), {}));
    }
    EXPECT_TRUE(heldOpen().empty()) << "left open";
    fs::remove_all(root);
}

INSTANTIATE_TEST_SUITE_P(
    Window, ReadAheadTest,
    ::testing::Values(
        Case{"to the next folder", "a b c sub/ d", {"a"}, "b c"},
        Case{"past a folder once the walk is there", "a sub/ d e", {"a", "d"}, "e"},
        Case{"past names not copied, and from one not opened ahead",
             "a b c sub/ d e f",
             {"b", "e"},
             "f"},
        Case{"not at empty files or links", "a empty=0 link@ b", {"a"}, "b"},
        Case{"from a file the folder was not listed with", "a b (unlisted)", {"unlisted"}, "a b"},
        Case{"at about 8 MB", "a=3145728 b=3145728 c=3145728 d=3145728 e=3145728", {"a"}, "b c d"}),
    [](const ::testing::TestParamInfo<Case>& info) {
        std::string name;
        for (const char* c = info.param.what; *c != '\0'; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

}  // namespace
