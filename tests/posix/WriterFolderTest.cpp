// Which writers root runs: only what root alone controls, through descriptors, and links
// only along folders that root alone controls. Attacks are made as the user nobody would.
#include "platform/posix/writers/WriterFolder.h"
#include "posix/TestWriters.h"
#include "support/TraceState.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fnmatch.h>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace quorlin {
namespace testing {
namespace {

const uid_t kNobody = 65534;
const char kScript[] = "#!/bin/sh\nexit 0\n";

// Whether `line` holds `pattern`, where '*' in the pattern stands for any text.
bool Matches(const std::string& line, const std::string& pattern) {
    return ::fnmatch(("*" + pattern + "*").c_str(), line.c_str(), 0) == 0;
}

// One report line that matches `refusal`, or none when it is null; no line at the
// workflows' levels.
void ExpectRefusal(const TracedLines& traced, const char* refusal) {
    EXPECT_TRUE(traced.workflows.empty()) << traced.workflows.front();
    if (refusal == nullptr) {
        EXPECT_TRUE(traced.results.empty()) << traced.results.front();
    } else {
        ASSERT_EQ(1u, traced.results.size());
        EXPECT_TRUE(Matches(traced.results[0], refusal)) << traced.results[0];
    }
}

class WriterFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TestWriters::Unavailable().empty())
            GTEST_SKIP() << TestWriters::Unavailable();
    }
    TraceState traceState_;
};

TEST_F(WriterFolderTest, OnlyWhatRootAloneControlsRuns) {
    struct Case {
        const char* what;
        std::function<void(TestWriters&)> make;  // adds to the folder beside a sound writer
        std::vector<std::string> accepted;       // beside "sound"
        const char* refusal;                     // in the one level-2 line; null: none
    };
    // A program outside the folder, in a folder that root alone controls.
    auto program = [](TestWriters& writers, const std::string& folder) {
        const std::string path = writers.Area() + "/" + folder;
        ::mkdir(path.c_str(), 0755);
        const std::string file = path + "/tool";
        std::ofstream(file) << kScript;
        ::chmod(file.c_str(), 0755);
        return file;
    };
    auto link = [](TestWriters& writers, const std::string& name, const std::string& target) {
        EXPECT_EQ(0, ::symlink(target.c_str(), (writers.Folder() + "/" + name).c_str()));
    };
    const Case cases[] = {
        {"links to a program, absolute and relative",
         [&](TestWriters& w) {
             link(w, "absolute", program(w, "bin"));
             link(w, "relative", "../bin/tool");
         },
         {"absolute", "relative"},
         nullptr},
        {"names that run-parts leaves out",
         [](TestWriters& w) {
             for (const char* name : {"old.dpkg-old", "backup~", ".hidden", "with space"})
                 w.AddFile(name, kScript, 0755);
         },
         {},
         nullptr},
        {"a writer that belongs to a user",
         [](TestWriters& w) {
             w.AddFile("users", kScript, 0755);
             EXPECT_EQ(0, ::chown((w.Folder() + "/users").c_str(), kNobody, kNobody));
         },
         {},
         "Writer *users is refused: it belongs to uid 65534, not root. It does not run."},
        {"a writer its group may write",
         [](TestWriters& w) { w.AddFile("shared", kScript, 0775); },
         {},
         "shared is refused: users other than root can write it"},
        {"a file that is not executable",
         [](TestWriters& w) { w.AddFile("plain", kScript, 0644); },
         {},
         "plain is refused: * is not an executable file"},
        {"a FIFO, which must not block",
         [](TestWriters& w) { EXPECT_EQ(0, ::mkfifo((w.Folder() + "/fifo").c_str(), 0755)); },
         {},
         "fifo is refused: * is not an executable file"},
        {"a link through a folder of a user",
         [&](TestWriters& w) {
             const std::string target = program(w, "users");
             EXPECT_EQ(0, ::chown((w.Area() + "/users").c_str(), kNobody, kNobody));
             link(w, "redirected", target);
         },
         {},
         "redirected is refused: its link leads to */users/tool: */users can be changed by users "
         "other than root"},
        {"a link through another link",
         [&](TestWriters& w) {
             program(w, "bin");
             EXPECT_EQ(0, ::symlink("bin", (w.Area() + "/alias").c_str()));
             link(w, "twice", w.Area() + "/alias/tool");
         },
         {},
         "twice is refused: its link leads to */alias/tool: the way to it passes through the link "
         "*/alias"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        TestWriters writers;
        writers.AddFile("sound", kScript, 0755);
        test.make(writers);
        TracedLines traced;
        std::vector<std::string> names;
        for (const WriterProgram& found : FindWriters(writers.Folder())) {
            names.push_back(found.name);
            EXPECT_TRUE(found.file.Valid());
            EXPECT_TRUE(found.script);
        }
        std::vector<std::string> expected = test.accepted;
        expected.push_back("sound");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(expected, names);
        ExpectRefusal(traced, test.refusal);
    }
}

TEST_F(WriterFolderTest, AFolderThatOthersControlRunsNothing) {
    struct Case {
        const char* what;
        std::function<std::string(TestWriters&)> folder;  // makes it; its path
        const char* refusal;                              // null: no line
    };
    const Case cases[] = {
        {"a folder of a user",
         [](TestWriters& w) {
             EXPECT_EQ(0, ::chown(w.Folder().c_str(), kNobody, kNobody));
             return w.Folder();
         },
         "The writers folder */writers.d is refused: it belongs to uid 65534, not root. No writer "
         "in it runs."},
        {"a folder anyone may write",
         [](TestWriters& w) {
             ::chmod(w.Folder().c_str(), 0777);
             return w.Folder();
         },
         "*/writers.d is refused: users other than root can write it."},
        {"a folder below a folder of a user",
         [](TestWriters& w) {
             const std::string user = w.Area() + "/home";
             ::mkdir(user.c_str(), 0755);
             EXPECT_EQ(0, ::chown(user.c_str(), kNobody, kNobody));
             EXPECT_EQ(0, ::rename(w.Folder().c_str(), (user + "/writers.d").c_str()));
             return user + "/writers.d";
         },
         "*/home/writers.d is refused: */home can be changed by users other than root."},
        {"a link as the folder",
         [](TestWriters& w) {
             EXPECT_EQ(0, ::symlink(w.Folder().c_str(), (w.Area() + "/linked.d").c_str()));
             return w.Area() + "/linked.d";
         },
         "*/linked.d is refused: the way to it passes through the link */linked.d."},
        {"no folder", [](TestWriters& w) { return w.Area() + "/none.d"; }, nullptr},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        TestWriters writers;
        writers.AddFile("sound", kScript, 0755);
        const std::string folder = test.folder(writers);
        TracedLines traced;
        EXPECT_TRUE(FindWriters(folder).empty());
        ExpectRefusal(traced, test.refusal);
    }
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
