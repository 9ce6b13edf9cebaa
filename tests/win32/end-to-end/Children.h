// This test program as a child process of itself: a host that dies while it holds
// its backups, and a second requester that starts a snapshot set.
#ifndef QUORLIN_TESTS_END_TO_END_CHILDREN_H
#define QUORLIN_TESTS_END_TO_END_CHILDREN_H

#include <windows.h>

#include <string>

namespace endtoend {

// Runs this program with `arguments` to its end (at most a minute); its exit code.
DWORD RunSelf(const std::wstring& arguments);

// The child: takes a backup of `file` with VssStartBackup and another with
// VssStartBackupNoWriter, then ends its process without completing either.
// Returns only when a start call fails.
int LeaveSnapshots(const wchar_t* file);

// The child: starts a snapshot set without writers and ends; its exit code is what
// StartSnapshotSet answered (HRESULT_FROM_WIN32 of the failure to get a components
// object when it gets none).
int StartSet();

}  // namespace endtoend

#endif
