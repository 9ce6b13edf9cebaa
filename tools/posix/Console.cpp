#include "Console.h"

#include <fcntl.h>
#include <map>
#include <unistd.h>

namespace qtool {

const bool kNamesAreBytes = true;

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void PrepareConsole() {}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

std::FILE* WritableDescriptor(int fd) {
    static std::map<int, std::FILE*> opened;
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY)
        return nullptr;
    if (fd == STDOUT_FILENO || fd == STDERR_FILENO)
        return fd == STDOUT_FILENO ? stdout : stderr;
    std::FILE*& stream = opened[fd];
    if (stream == nullptr && fcntl(fd, F_SETFD, FD_CLOEXEC) == 0)
        stream = fdopen(fd, "w");
    return stream;
}

StandardOutputAside::StandardOutputAside(bool active) : saved_(-1) {
    if (!active)
        return;
    std::fflush(stdout);
    saved_ = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (saved_ >= 0 && dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        close(saved_);
        saved_ = -1;
    }
}

StandardOutputAside::~StandardOutputAside() {
    std::fflush(stdout);
    if (saved_ >= 0) {
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }
}

}  // namespace qtool
