// File helpers shared by the stand-in and the tests' session library.
#ifndef QUORLIN_STAND_IN_VSS_FILES_H
#define QUORLIN_STAND_IN_VSS_FILES_H

#include <windows.h>

#include <string>

namespace standin {

// The whole content of the file; empty when it cannot be read.
std::string ReadBytes(const std::wstring& path);
// Creates the folder `path` (absolute) and the folders above it that are missing;
// true when it exists afterwards.
bool CreateFolders(const std::wstring& path);
// Removes `path` and everything below it; links are removed, never followed.
void RemoveTree(const std::wstring& path);

}  // namespace standin

#endif
