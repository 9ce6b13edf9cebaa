#include "snapshot/HostPreparation.h"

#include "diag/Trace.h"
#include "host/FilterRegistration.h"
#include "host/PlatformCheck.h"
#include "host/Privilege.h"
#include "platform/Platform.h"
#include "text/Format.h"

namespace quorlin {

const wchar_t kInvalidParameter[] = L"Invalid parameter.";
const wchar_t kWrongSequenceComplete[] = L"Wrong calling sequence, call VssCompleteBackup first.";
const wchar_t kWrongSequenceStart[] = L"Wrong calling sequence, call VssStartBackup first.";

bool RefusedPlatform() {
    if (IsUnsupportedPlatform() == 0)
        return false;
    TraceFailure(L"Not support xp 64.", {FailureKind::kUnsupportedSystem, 0, 0, {}},
                 TRACE_LEVEL_DETAIL);
    return true;
}

void TraceRefusedArgument() {
    TraceFailure(kInvalidParameter, {FailureKind::kInvalidArgument, 0, 0, {}}, TRACE_LEVEL_DETAIL);
}

bool RefusedSinglePathStart(const wchar_t* sourcePath) {
    GetHost().OutputDebugText(L"VssStartBackup entry\n");
    if (RefusedPlatform())
        return true;
    if (sourcePath != nullptr)
        return false;
    TraceRefusedArgument();
    return true;
}

void CheckFilterRegistration() {
    if (CheckVolSnapFilter() != 0)
        return;
    TraceDetail(
        L"Volsnap not properly set at "
        L"SYSTEM\\CurrentControlSet\\Control\\Class\\{71A27CDD-812A-11D0-BEC7-08002BE2092F}"
        L"\\UpperFilters.");
}

void SetSecurityAndPrivilege() {
    Host& host = GetHost();
    const HRESULT security = host.InitializeComSecurity();
    if (security < 0) {
        TraceDetail(FormatText(L"CoInitializeSecurity result failure , rc = %0x\n",
                               {static_cast<uint32_t>(security)}));
    }
    if (AssertPrivilege(L"SeBackupPrivilege") == 0) {
        const uint32_t error = host.GetLastError();
        TraceDetail(FormatText(L"AssertPrivilege returned error, rc:%d\n", {error}));
    }
}

}  // namespace quorlin
