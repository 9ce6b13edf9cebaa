// The path that a path finally names, through symbolic links, junctions and volumes
// mounted on folders, as GetFinalPathNameByHandleW gives it.
#ifndef QUORLIN_PLATFORM_WIN32_FINAL_PATH_H
#define QUORLIN_PLATFORM_WIN32_FINAL_PATH_H

#include <string>

namespace quorlin {

// `path` without the prefix of the final-path forms: \\?\C:\x gives C:\x and
// \\?\UNC\server\share\x gives \\server\share\x. Other forms are kept whole.
std::wstring WithoutFinalPathPrefix(const std::wstring& path);

// The final path of the absolute `fullPath` into `resolved`: that of its nearest
// existing ancestor (itself when it exists), with the rest of `fullPath` below that
// ancestor appended, and a trailing separator kept. False, with `resolved` untouched,
// when the system lacks GetFinalPathNameByHandleW or no ancestor resolves.
bool ResolveFinalPath(const std::wstring& fullPath, std::wstring& resolved);

// Whether `resolved`, the final path of the absolute `fullPath`, names it through a
// link: true when it is not `fullPath` with its short (8.3) names expanded
// (GetLongPathNameW of its nearest existing ancestor, letter case aside). False when
// that cannot be told.
bool ResolvedThroughLinks(const std::wstring& fullPath, const std::wstring& resolved);

}  // namespace quorlin

#endif
