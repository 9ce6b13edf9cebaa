#include "posix/TestWriters.h"

#include "posix/ScratchVolume.h"

#include <cerrno>
#include <dirent.h>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace quorlin {
namespace testing {

namespace {

const char* const kCommands[] = {"identify", "prepare", "freeze", "thaw", "complete", "abort"};

std::string SoundAnswer(const TestWriter& writer, const std::string& command) {
    if (command == "identify") {
        std::string lines = "echo 'name " + writer.name + "'; ";
        for (const std::string& path : writer.paths)
            lines += "echo 'path " + path + "'; ";
        return lines + "echo ready";
    }
    if (command == "abort")
        return "exit 0";
    static const std::map<std::string, std::string> words = {{"prepare", "prepared"},
                                                             {"freeze", "frozen"},
                                                             {"thaw", "thawed"},
                                                             {"complete", "completed"}};
    return "echo " + words.at(command);
}

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream file(path);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(file, line))
        lines.push_back(line);
    return lines;
}

// Whether a process of the process group `group` runs (a zombie does not).
bool AnyRunningInGroup(long group) {
    DIR* proc = ::opendir("/proc");
    bool running = false;
    while (const dirent* entry = proc != nullptr ? ::readdir(proc) : nullptr) {
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string text;
        if (!std::getline(stat, text))
            continue;
        // pid (comm) state ppid pgrp ...: the command may hold spaces and parentheses.
        std::istringstream fields(text.substr(text.rfind(')') + 1));
        char state = 0;
        long parent = 0, processGroup = 0;
        if (fields >> state >> parent >> processGroup && processGroup == group && state != 'Z' &&
            state != 'X')
            running = true;
    }
    if (proc != nullptr)
        ::closedir(proc);
    return running;
}

}  // namespace

void TracedLines::Observe(const wchar_t* text, int level) noexcept {
    std::string line;
    for (const wchar_t* c = text; *c != L'\0'; ++c)
        line += static_cast<char>(*c < 0x80 ? *c : '?');
    (level == TRACE_LEVEL_SERVICE_RESULT   ? results
     : level == TRACE_LEVEL_SERVICE_DETAIL ? steps
                                           : workflows)
        .push_back(line);
}

std::string TestWriters::Unavailable() {
    return ::geteuid() == 0 ? std::string() : "writers must belong to root: run the tests as root";
}

TestWriters::TestWriters() {
    char name[] = "/tmp/quorlin-writers.XXXXXX";
    if (::mkdtemp(name) == nullptr)
        return;
    area_ = name;
    folder_ = area_ + "/writers.d";
    ::mkdir(folder_.c_str(), 0755);
    ::chmod(area_.c_str(), 0755);
}

TestWriters::~TestWriters() {
    if (!area_.empty())
        RunQuietly("rm -rf '" + area_ + "'");
}

void TestWriters::Add(const TestWriter& writer) {
    std::ostringstream script;
    script << "#!/bin/sh\n"
           << "log='" << LogPath(writer.name) << "'\n"
           << "echo \"pid $$\" >> \"$log\"\n"
           << writer.atStart << "\n"
           << "while IFS=' ' read -r command argument; do\n"
           << "  echo \"$command${argument:+ $argument}\" >> \"$log\"\n"
           << "  case \"$command\" in\n";
    for (const char* command : kCommands) {
        const auto instead = writer.instead.find(command);
        script << "    " << command << ") "
               << (instead != writer.instead.end() ? instead->second : SoundAnswer(writer, command))
               << " ;;\n";
    }
    script << "  esac\n"
           << "done\n"
           << "echo end >> \"$log\"\n";
    AddFile(writer.name, script.str(), 0755);
}

void TestWriters::AddFile(const std::string& name, const std::string& text, mode_t mode) {
    const std::string path = folder_ + "/" + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    ::chmod(path.c_str(), mode);
}

std::vector<std::string> TestWriters::Log(const std::string& name) const {
    std::vector<std::string> lines = Lines(LogPath(name));
    if (!lines.empty() && lines.front().compare(0, 4, "pid ") == 0)
        lines.erase(lines.begin());
    return lines;
}

bool TestWriters::Started(const std::string& name) const { return !Lines(LogPath(name)).empty(); }

bool TestWriters::GroupAlive(const std::string& name) const {
    const std::vector<std::string> lines = Lines(LogPath(name));
    if (lines.empty() || lines.front().compare(0, 4, "pid ") != 0)
        return false;
    const long group = std::atol(lines.front().c_str() + 4);
    // A killed process may take a moment to end; one whose parent is gone stays a zombie
    // until the system reaps it, which does not count.
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (!AnyRunningInGroup(group))
            return false;
        ::usleep(10000);
    }
    return true;
}

}  // namespace testing
}  // namespace quorlin
