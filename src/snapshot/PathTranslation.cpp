#include "snapshot/PathTranslation.h"

#include "platform/Platform.h"

#include <cwchar>

namespace quorlin {

bool EndsWithChar(const wchar_t* text, wchar_t ch) {
    const size_t length = std::wcslen(text);
    return length > 0 && text[length - 1] == ch;
}

// Made in one allocation: the multi-path start calls it once per path.
void CombinePath(const wchar_t* head, const wchar_t* tail, std::wstring& result,
                 wchar_t separator) {
    const size_t headLength = std::wcslen(head);
    const size_t tailLength = std::wcslen(tail);
    const bool joined = headLength > 0 && head[headLength - 1] != separator;
    std::wstring combined;
    combined.reserve(headLength + (joined ? 1 : 0) + tailLength);
    combined.append(head, headLength);
    if (joined)
        combined += separator;
    combined.append(tail, tailLength);
    result.swap(combined);
}

void CalculateSourcePath(const wchar_t* snapshotDeviceObject, const wchar_t* path,
                         const wchar_t* volumeRoot, std::wstring& result, wchar_t separator) {
    const size_t rootLength = std::wcslen(volumeRoot);
    const size_t pathLength = std::wcslen(path);
    const wchar_t* relative = pathLength > rootLength ? path + rootLength : L"";
    CombinePath(snapshotDeviceObject, relative, result, separator);
}

void CalculateSourcePath(const wchar_t* snapshotDeviceObject, const wchar_t* path,
                         const wchar_t* volumeRoot, std::wstring& result) {
    CalculateSourcePath(snapshotDeviceObject, path, volumeRoot, result, PlatformPathSeparator());
}

}  // namespace quorlin
