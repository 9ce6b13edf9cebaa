// The snapshot workflows behind the start and completion calls.
// Not built yet: every call fails without touching any state.
#include "Quorlin.h"

#include "diag/Trace.h"
#include "snapshot/Requester.h"

CQuorlin::~CQuorlin() {}

int CQuorlin::VssStartBackup(wchar_t*, wchar_t*, int&) { return QUORLIN_RESULT_FAILED; }
int CQuorlin::VssStartBackup2(wchar_t**, wchar_t**, int) { return QUORLIN_RESULT_FAILED; }
int CQuorlin::VssStartBackupNoWriter(wchar_t*, wchar_t*, int&) { return QUORLIN_RESULT_FAILED; }
int CQuorlin::VssBackupComplete() { return QUORLIN_RESULT_FAILED; }
void CQuorlin::Cleanup(bool, bool, quorlin::ComPtr<quorlin::BackupComponents>, GUID) {}
