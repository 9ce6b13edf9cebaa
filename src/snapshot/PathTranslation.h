// The path of a file inside a snapshot, by string arithmetic alone.
#ifndef QUORLIN_SNAPSHOT_PATH_TRANSLATION_H
#define QUORLIN_SNAPSHOT_PATH_TRANSLATION_H

#include <string>

namespace quorlin {

// True when `text` is non-empty and ends with `ch`.
bool EndsWithChar(const wchar_t* text, wchar_t ch);

// `head`, one `separator` when `head` is non-empty and does not end in one, then `tail`.
void CombinePath(const wchar_t* head, const wchar_t* tail, std::wstring& result, wchar_t separator);

// Replaces the first wcslen(volumeRoot) units of `path` with `snapshotDeviceObject`,
// joined by CombinePath. The prefix is not compared, only its length is used.
void CalculateSourcePath(const wchar_t* snapshotDeviceObject, const wchar_t* path,
                         const wchar_t* volumeRoot, std::wstring& result, wchar_t separator);

// The same with the platform's separator.
void CalculateSourcePath(const wchar_t* snapshotDeviceObject, const wchar_t* path,
                         const wchar_t* volumeRoot, std::wstring& result);

}  // namespace quorlin

#endif
