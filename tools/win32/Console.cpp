#include "Console.h"

#include "Text.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <map>
#include <shellapi.h>

namespace qtool {

const bool kNamesAreBytes = false;

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(Utf8FromWide(wide[i]));
    LocalFree(wide);
    return arguments;
}

void PrepareConsole() { SetConsoleOutputCP(CP_UTF8); }

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

std::FILE* WritableDescriptor(int fd) {
    static std::map<int, std::FILE*> opened;
    if (_get_osfhandle(fd) == -1)
        return nullptr;
    if (fd == 1 || fd == 2)
        return fd == 1 ? stdout : stderr;
    std::FILE*& stream = opened[fd];
    if (stream == nullptr)
        stream = _fdopen(fd, "w");
    return stream;
}

StandardOutputAside::StandardOutputAside(bool active) : saved_(-1) {
    if (!active)
        return;
    std::fflush(stdout);
    saved_ = _dup(1);
    if (saved_ >= 0 && _dup2(2, 1) != 0) {
        _close(saved_);
        saved_ = -1;
    }
}

StandardOutputAside::~StandardOutputAside() {
    std::fflush(stdout);
    if (saved_ >= 0) {
        _dup2(saved_, 1);
        _close(saved_);
    }
}

}  // namespace qtool
