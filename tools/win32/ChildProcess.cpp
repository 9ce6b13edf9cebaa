#include "ChildProcess.h"

#include "Failure.h"
#include "Text.h"
#include "win32/StopEvent.h"

#include <cwchar>
#include <string>
#include <vector>

namespace qtool {
namespace {

// One argument quoted as the C runtime splits a command line.
std::wstring Quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

std::string ReasonFor(DWORD error) {
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return "not found";
    return "Windows error " + std::to_string(error);
}

// Removes the process's variables whose names begin with one of `prefixes`.
void RemoveVariables(const std::vector<std::string>& prefixes) {
    std::vector<std::wstring> names;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; entry != nullptr && *entry != L'\0';
         entry += std::wcslen(entry) + 1) {
        const std::wstring text = entry;
        const std::wstring name = text.substr(0, text.find(L'=', 1));  // "=C:" names a drive
        for (const std::string& prefix : prefixes)
            if (name.compare(0, prefix.size(), WideFromUtf8(prefix)) == 0)
                names.push_back(name);
    }
    if (block != nullptr)
        FreeEnvironmentStringsW(block);
    for (const std::wstring& name : names)
        SetEnvironmentVariableW(name.c_str(), nullptr);
}

}  // namespace

int RunCommand(const std::vector<std::string>& arguments, const Environment& environment,
               const std::vector<std::string>& withoutPrefixes) {
    RemoveVariables(withoutPrefixes);
    for (const auto& variable : environment)
        SetEnvironmentVariableW(WideFromUtf8(variable.first).c_str(),
                                WideFromUtf8(variable.second).c_str());
    std::wstring line;
    for (const std::string& argument : arguments)
        line += (line.empty() ? L"" : L" ") + Quoted(WideFromUtf8(argument));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
        throw Failure(kExitCannotRun, "could not run \"" + arguments[0] + "\" (" +
                                          ReasonFor(GetLastError()) +
                                          "); check the command's name and PATH");
    CloseHandle(process.hThread);
    HANDLE events[2] = {process.hProcess, StopEvent()};
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        // The console's Ctrl-C reached the command too: give it time to end.
        if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(kCommandStopGrace.count() *
                                                                     1000)) == WAIT_TIMEOUT)
            TerminateProcess(process.hProcess, kExitInterrupted);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    DWORD code = kExitFailed;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

}  // namespace qtool
