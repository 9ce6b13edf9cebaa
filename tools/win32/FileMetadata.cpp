#include "FileMetadata.h"

#include <system_error>
#include <windows.h>

namespace qtool {
namespace {

[[noreturn]] void Fail(const char* what, const std::filesystem::path& path) {
    throw std::filesystem::filesystem_error(
        what, path, std::error_code(static_cast<int>(GetLastError()), std::system_category()));
}

// Opens `path` for its attributes only; folders and links themselves included.
HANDLE OpenForAttributes(const std::filesystem::path& path, DWORD access) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

void CopyMetadata(const std::filesystem::path& from, const std::filesystem::path& to) {
    const DWORD kKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                        FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    DWORD attributes = GetFileAttributesW(from.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        Fail("cannot read the attributes of", from);
    FILETIME created, accessed, modified;
    HANDLE source = OpenForAttributes(from, FILE_READ_ATTRIBUTES);
    if (source == INVALID_HANDLE_VALUE)
        Fail("cannot open", from);
    BOOL read = GetFileTime(source, &created, &accessed, &modified);
    CloseHandle(source);
    if (!read)
        Fail("cannot read the times of", from);
    // The times first: a read-only file refuses them.
    HANDLE target = OpenForAttributes(to, FILE_WRITE_ATTRIBUTES);
    if (target == INVALID_HANDLE_VALUE)
        Fail("cannot open", to);
    BOOL set = SetFileTime(target, &created, &accessed, &modified);
    CloseHandle(target);
    if (!set)
        Fail("cannot set the times of", to);
    DWORD current = GetFileAttributesW(to.c_str());
    if (current == INVALID_FILE_ATTRIBUTES)
        Fail("cannot read the attributes of", to);
    DWORD kept = (current & ~kKept) | (attributes & kKept);
    if (!SetFileAttributesW(to.c_str(), kept == 0 ? FILE_ATTRIBUTE_NORMAL : kept))
        Fail("cannot set the attributes of", to);
}

}  // namespace qtool
