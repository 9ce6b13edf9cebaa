#include "FileSystem.h"

#include <system_error>
#include <windows.h>

namespace fs = std::filesystem;

namespace qtool {
namespace {

[[noreturn]] void Fail(const char* what, const fs::path& path) {
    throw fs::filesystem_error(
        what, path, std::error_code(static_cast<int>(GetLastError()), std::system_category()));
}

// Reparse points (links, junctions, mount points) are not followed.
Entry EntryOf(const fs::path& path, DWORD attributes, DWORD sizeHigh, DWORD sizeLow) {
    Entry entry;
    entry.path = path;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        entry.kind = EntryKind::kOther;
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        entry.kind = EntryKind::kFolder;
    } else {
        entry.kind = EntryKind::kFile;
        entry.size = (static_cast<std::uint64_t>(sizeHigh) << 32) | sizeLow;
    }
    return entry;
}

}  // namespace

Entry Inspect(const fs::path& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        Fail("cannot read the attributes of", path);
    return EntryOf(path, data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow);
}

std::vector<Entry> ListFolder(const fs::path& path) {
    std::vector<Entry> entries;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW((path / L"*").c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        Fail("cannot list", path);
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        entries.push_back(
            EntryOf(path / name, found.dwFileAttributes, found.nFileSizeHigh, found.nFileSizeLow));
    } while (FindNextFileW(search, &found));
    DWORD error = GetLastError();
    FindClose(search);
    if (error != ERROR_NO_MORE_FILES) {
        SetLastError(error);
        Fail("cannot list", path);
    }
    return entries;
}

}  // namespace qtool
