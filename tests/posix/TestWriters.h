// Writers for tests: shell scripts in a writers folder of root's own, each logging every
// command it reads, answering as a sound writer does except where a test says otherwise.
// Needs root (the folder and its writers must be root's); Unavailable() says when not.
#ifndef QUORLIN_TESTS_POSIX_TEST_WRITERS_H
#define QUORLIN_TESTS_POSIX_TEST_WRITERS_H

#include "diag/Trace.h"

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quorlin {
namespace testing {

struct TestWriter {
    std::string name;                // its file name and the name it gives
    std::vector<std::string> paths;  // the paths it names
    // Shell lines run instead of the answer to a command ("identify", "prepare", "freeze",
    // "thaw", "complete", "abort"). Without one it answers, and exits at abort.
    std::map<std::string, std::string> instead;
    std::string atStart;  // shell lines run before it reads its first command
};

// The lines traced on the constructing thread while it lives, ASCII kept and the rest '?':
// the service's report lines and step lines, and those at the workflows' levels.
class TracedLines : public TraceObserver {
public:
    void Observe(const wchar_t* text, int level) noexcept override;
    std::vector<std::string> results, steps, workflows;
};

class TestWriters {
public:
    // Why the writers cannot be made here; empty when they can.
    static std::string Unavailable();

    TestWriters();  // a new area under /tmp with an empty writers folder
    ~TestWriters();
    TestWriters(const TestWriters&) = delete;
    TestWriters& operator=(const TestWriters&) = delete;

    const std::string& Folder() const { return folder_; }
    const std::string& Area() const { return area_; }
    // Writes the writer's script (mode 0755) into the folder.
    void Add(const TestWriter& writer);
    // Writes `text` as the file `name` in the folder with `mode`.
    void AddFile(const std::string& name, const std::string& text, mode_t mode);
    // The commands the writer read, one per line, and "end" when its input ended.
    std::vector<std::string> Log(const std::string& name) const;
    // Whether the writer ever started.
    bool Started(const std::string& name) const;
    // Whether a process of the writer's process group still runs.
    bool GroupAlive(const std::string& name) const;

private:
    std::string LogPath(const std::string& name) const { return area_ + "/" + name + ".log"; }

    std::string area_;
    std::string folder_;
};

}  // namespace testing
}  // namespace quorlin

#endif
