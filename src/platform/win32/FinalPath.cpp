#include "platform/win32/FinalPath.h"

#include <windows.h>

#include <cwchar>

namespace quorlin {

namespace {

typedef DWORD(WINAPI* FinalPathFunction)(HANDLE, LPWSTR, DWORD, DWORD);

const DWORD kNormalizedDosName = 0;  // FILE_NAME_NORMALIZED | VOLUME_NAME_DOS

// Looked up at run time: systems before Vista lack it.
FinalPathFunction FinalPathFunctionOfTheSystem() {
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    FARPROC address = kernel ? ::GetProcAddress(kernel, "GetFinalPathNameByHandleW") : nullptr;
    return reinterpret_cast<FinalPathFunction>(reinterpret_cast<void*>(address));
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

// The text that `get(buffer, size)` writes, without the prefix of the final-path forms:
// `get` answers the length written, or for too small a buffer the size needed with the
// terminator, or 0 when it fails.
template <class Get>
bool PathFrom(Get&& get, std::wstring& result) {
    std::wstring buffer(MAX_PATH, L'\0');
    DWORD length = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        length = get(&buffer[0], static_cast<DWORD>(buffer.size()));
        if (length < buffer.size())
            break;
        buffer.assign(length, L'\0');
    }
    if (length == 0 || length >= buffer.size())
        return false;
    buffer.resize(length);
    result = WithoutFinalPathPrefix(buffer);
    return true;
}

// The final path of an existing file or folder, opened for no access at all (which
// neither sharing modes nor its security refuse).
bool FinalPathOf(FinalPathFunction finalPath, const std::wstring& path, std::wstring& result) {
    HANDLE handle =
        ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool found =
        PathFrom([&](wchar_t* buffer,
                     DWORD size) { return finalPath(handle, buffer, size, kNormalizedDosName); },
                 result);
    ::CloseHandle(handle);
    return found;
}

// The long form of an existing path: its short (8.3) names expanded, its links kept.
bool LongPathOf(const std::wstring& path, std::wstring& result) {
    return PathFrom(
        [&](wchar_t* buffer, DWORD size) { return ::GetLongPathNameW(path.c_str(), buffer, size); },
        result);
}

// `resolve` of the absolute `fullPath`'s nearest existing ancestor (itself when it
// exists, `resolve` answering false for a path that does not), with the rest of
// `fullPath` below that ancestor appended and a trailing separator kept, into `result`.
// False, with `result` untouched, when no ancestor resolves.
template <class Resolve>
bool ThroughNearestAncestor(const std::wstring& fullPath, Resolve&& resolve, std::wstring& result) {
    if (fullPath.empty())
        return false;
    // Candidates: the path itself, then each ancestor up to the root (a drive's root
    // with its separator: "C:" alone names a current directory).
    size_t end = fullPath.size();
    while (true) {
        std::wstring candidate = fullPath.substr(0, end);
        if (!candidate.empty() && candidate.back() == L':')
            candidate += L'\\';
        std::wstring ancestor;
        if (resolve(candidate, ancestor)) {
            std::wstring rest = fullPath.substr(candidate.size() < end ? end : candidate.size());
            if (!ancestor.empty() && ancestor.back() == L'\\' && !rest.empty() && rest[0] == L'\\')
                rest.erase(0, 1);
            ancestor += rest;
            if (fullPath.back() == L'\\' && ancestor.back() != L'\\')
                ancestor += L'\\';
            result.swap(ancestor);
            return true;
        }
        const size_t separator =
            end > 0 ? fullPath.find_last_of(L'\\', end - 1) : std::wstring::npos;
        if (separator == std::wstring::npos || separator < 2)
            return false;
        end = separator;
    }
}

}  // namespace

std::wstring WithoutFinalPathPrefix(const std::wstring& path) {
    if (StartsWith(path, L"\\\\?\\UNC\\"))
        return L"\\\\" + path.substr(8);
    const bool drive =
        path.size() >= 6 && StartsWith(path, L"\\\\?\\") && path[5] == L':' &&
        ((path[4] >= L'A' && path[4] <= L'Z') || (path[4] >= L'a' && path[4] <= L'z'));
    return drive ? path.substr(4) : path;
}

bool ResolveFinalPath(const std::wstring& fullPath, std::wstring& resolved) {
    const FinalPathFunction finalPath = FinalPathFunctionOfTheSystem();
    if (finalPath == nullptr)
        return false;
    return ThroughNearestAncestor(
        fullPath,
        [finalPath](const std::wstring& path, std::wstring& result) {
            return FinalPathOf(finalPath, path, result);
        },
        resolved);
}

bool ResolvedThroughLinks(const std::wstring& fullPath, const std::wstring& resolved) {
    std::wstring expanded;
    if (!ThroughNearestAncestor(fullPath, LongPathOf, expanded))
        return false;
    return ::CompareStringOrdinal(expanded.c_str(), -1, resolved.c_str(), -1, TRUE) != CSTR_EQUAL;
}

}  // namespace quorlin
