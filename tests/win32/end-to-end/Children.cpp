#include "Children.h"

#include "RawVss.h"

#include <Quorlin.h>

#include <vector>

namespace endtoend {

DWORD RunSelf(const std::wstring& arguments) {
    wchar_t self[MAX_PATH + 1];
    const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH + 1);
    std::wstring commandLine = L"\"" + std::wstring(self, length) + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process))
        return ~0u;
    ::CloseHandle(process.hThread);
    DWORD code = ~0u;
    if (::WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        ::GetExitCodeProcess(process.hProcess, &code);
    else
        ::TerminateProcess(process.hProcess, code);
    ::CloseHandle(process.hProcess);
    return code;
}

int LeaveSnapshots(const wchar_t* file) {
    std::wstring source = file;
    std::vector<wchar_t> snapshot(source.size() + 64);
    int length = 0;
    // Never destroyed: the process ends holding both backups.
    auto* withWriters = new CQuorlin;
    auto* withoutWriters = new CQuorlin;
    if (withWriters->VssStartBackup(&source[0], snapshot.data(), length) != QUORLIN_RESULT_OK ||
        withoutWriters->VssStartBackupNoWriter(&source[0], snapshot.data(), length) !=
            QUORLIN_RESULT_OK)
        return 3;
    ::TerminateProcess(::GetCurrentProcess(), 0);
    return 4;
}

int StartSet() {
    HRESULT answer = S_OK;
    ComponentsPtr components = CreateComponents(&answer);
    if (!components)
        return answer;
    answer = components->InitializeForBackup(nullptr);
    if (SUCCEEDED(answer))
        answer = components->SetContext(VSS_CTX_FILE_SHARE_BACKUP);
    VSS_ID set = GUID_NULL;
    if (SUCCEEDED(answer))
        answer = components->StartSnapshotSet(&set);
    return answer;
}

}  // namespace endtoend
