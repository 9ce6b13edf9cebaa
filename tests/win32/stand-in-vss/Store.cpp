#include "Store.h"

#include "CallLog.h"
#include "Files.h"
#include "Text.h"

#include <vsserror.h>

#include <cwchar>
#include <map>
#include <stdexcept>

namespace standin {

namespace {

const wchar_t kRecordSuffix[] = L".snapshot";

bool IsDots(const wchar_t* name) {
    return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

// Calls `visit(path, data)` for every entry of `folder`.
template <class Visit>
bool ForEachEntry(const std::wstring& folder, Visit visit) {
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    do {
        if (!IsDots(data.cFileName))
            visit(folder + L"\\" + data.cFileName, data);
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return true;
}

bool IsFolder(const WIN32_FIND_DATAW& data) {
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// Copies the folder `from` to `to` (which must not exist), with everything below it.
DWORD CopyTree(const std::wstring& from, const std::wstring& to) {
    if (!::CreateDirectoryW(to.c_str(), nullptr))
        return ::GetLastError();
    DWORD error = ERROR_SUCCESS;
    const bool listed =
        ForEachEntry(from, [&](const std::wstring& entry, const WIN32_FIND_DATAW& data) {
            if (error != ERROR_SUCCESS)
                return;
            const std::wstring target = to + L"\\" + data.cFileName;
            if (IsFolder(data))
                error = CopyTree(entry, target);
            else if (!::CopyFileW(entry.c_str(), target.c_str(), TRUE))
                error = ::GetLastError();
        });
    return listed ? error : ::GetLastError();
}

// Creates the folders of `path` below `base` (which exists), leaving the last part.
DWORD CreateParents(const std::wstring& base, const std::wstring& relative) {
    size_t slash = relative.find(L'\\');
    while (slash != std::wstring::npos) {
        const std::wstring folder = base + L"\\" + relative.substr(0, slash);
        if (!::CreateDirectoryW(folder.c_str(), nullptr) &&
            ::GetLastError() != ERROR_ALREADY_EXISTS)
            return ::GetLastError();
        slash = relative.find(L'\\', slash + 1);
    }
    return ERROR_SUCCESS;
}

std::wstring VolumeOf(const std::wstring& path) {
    wchar_t root[MAX_PATH + 1];
    if (!::GetVolumePathNameW(path.c_str(), root, MAX_PATH + 1))
        return std::wstring();
    return root;
}

ULONGLONG Number(const FILETIME& time) {
    return (ULONGLONG{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

ULONGLONG StartOf(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    return Number(created);
}

bool IsRunning(DWORD pid, ULONGLONG start) {
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr)
        return false;
    DWORD code = 0;
    const bool running =
        ::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE && StartOf(process) == start;
    ::CloseHandle(process);
    return running;
}

std::wstring Text(const SnapshotRecord& record) {
    return L"id=" + GuidText(record.id) + L"\nset=" + GuidText(record.setId) + L"\ncount=" +
           std::to_wstring(record.setCount) + L"\ncontext=" + std::to_wstring(record.context) +
           L"\nvolume=" + record.volume + L"\nnumber=" + record.number + L"\nowner=" +
           std::to_wstring(record.owner) + L"\nownerStart=" + std::to_wstring(record.ownerStart) +
           L"\ncreated=" + std::to_wstring(record.created) + L"\n";
}

bool Parse(const std::wstring& text, SnapshotRecord& record) {
    std::map<std::wstring, std::wstring> values;
    for (const std::wstring& line : Split(text, L'\n')) {
        const size_t equals = line.find(L'=');
        if (equals != std::wstring::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    if (values.size() != 9 || !ParseGuid(values[L"id"], record.id) ||
        !ParseGuid(values[L"set"], record.setId))
        return false;
    record.setCount = std::stol(values[L"count"]);
    record.context = static_cast<LONG>(std::stoul(values[L"context"]));
    record.volume = values[L"volume"];
    record.number = values[L"number"];
    record.owner = std::stoul(values[L"owner"]);
    record.ownerStart = std::stoull(values[L"ownerStart"]);
    record.created = std::stoull(values[L"created"]);
    return true;
}

}  // namespace

std::wstring Store::DeviceOf(const SnapshotRecord& record) const {
    return L"\\\\?\\" + FolderOf(record);
}

std::wstring Store::FolderOf(const SnapshotRecord& record) const {
    return root_ + L"\\" + record.number;
}

std::wstring Store::RecordOf(const SnapshotRecord& record) const {
    return FolderOf(record) + kRecordSuffix;
}

HRESULT Store::Freeze(SnapshotRecord& record, const std::vector<std::wstring>& frozen) const {
    if (!CreateFolders(root_)) {
        LogLine(L"* cannot create the store " + root_ + L": error " +
                std::to_wstring(::GetLastError()));
        return VSS_E_UNEXPECTED_PROVIDER_ERROR;
    }
    for (unsigned n = 1;; ++n) {
        record.number = std::to_wstring(n);
        if (::CreateDirectoryW(FolderOf(record).c_str(), nullptr))
            break;
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            return VSS_E_UNEXPECTED_PROVIDER_ERROR;
    }
    for (const std::wstring& folder : frozen) {
        const std::wstring volume = VolumeOf(folder);
        if (!SameName(volume, record.volume))
            continue;
        const std::wstring relative = folder.substr(volume.size());
        DWORD error =
            relative.empty() ? ERROR_INVALID_NAME : CreateParents(FolderOf(record), relative);
        if (error == ERROR_SUCCESS)
            error = CopyTree(folder, FolderOf(record) + L"\\" + relative);
        LogLine(L"* froze " + folder + L" into " + FolderOf(record) + L"\\" + relative +
                (error == ERROR_SUCCESS ? L"" : L": error " + std::to_wstring(error)));
        if (error != ERROR_SUCCESS) {
            RemoveTree(FolderOf(record));
            return VSS_E_UNEXPECTED_PROVIDER_ERROR;
        }
    }
    return S_OK;
}

HRESULT Store::Publish(const SnapshotRecord& record) const {
    const std::wstring path = RecordOf(record);
    const std::wstring temporary = path + L".new";
    HANDLE file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return VSS_E_UNEXPECTED_PROVIDER_ERROR;
    const std::string bytes = Utf8(Text(record));
    DWORD written = 0;
    const bool wrote =
        ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size();
    ::CloseHandle(file);
    if (!wrote || !::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        ::DeleteFileW(temporary.c_str());
        return VSS_E_UNEXPECTED_PROVIDER_ERROR;
    }
    return S_OK;
}

std::vector<SnapshotRecord> Store::List() const {
    std::vector<SnapshotRecord> records;
    const size_t suffix = std::wcslen(kRecordSuffix);
    ForEachEntry(root_, [&](const std::wstring& path, const WIN32_FIND_DATAW& data) {
        const size_t length = std::wcslen(data.cFileName);
        if (IsFolder(data) || length <= suffix ||
            std::wcscmp(data.cFileName + length - suffix, kRecordSuffix) != 0)
            return;
        SnapshotRecord record;
        try {
            if (Parse(Wide(ReadBytes(path)), record))
                records.push_back(record);
        } catch (const std::logic_error&) {
            // a record being written or damaged: not a snapshot
        }
    });
    return records;
}

void Store::Remove(const SnapshotRecord& record) const {
    ::DeleteFileW(RecordOf(record).c_str());
    RemoveTree(FolderOf(record));
}

void Store::SweepOrphans() const {
    for (const SnapshotRecord& record : List()) {
        if (record.Persistent() || IsRunning(record.owner, record.ownerStart))
            continue;
        Remove(record);
        LogLine(L"* released " + GuidText(record.id) + L" of set " + GuidText(record.setId) +
                L": its process " + std::to_wstring(record.owner) + L" has ended");
    }
}

void Store::Identify(SnapshotRecord& record) {
    record.owner = ::GetCurrentProcessId();
    record.ownerStart = StartOf(::GetCurrentProcess());
}

}  // namespace standin
