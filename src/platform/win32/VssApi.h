// The two entry points of vssapi.dll, found when first needed rather than imported,
// so that quorlin.dll loads on every Windows and a system whose VSS lacks them
// fails its start calls with a clear code instead of failing to load the library.
// The DLL is loaded from the system directory only, never from beside the host.
#ifndef QUORLIN_PLATFORM_WIN32_VSS_API_H
#define QUORLIN_PLATFORM_WIN32_VSS_API_H

#include <vsbackup.h>

namespace quorlin {

// CreateVssBackupComponents. When vssapi.dll or its entry point is missing, answers
// the HRESULT of that Win32 error (0x8007007e or 0x8007007f) with no object.
HRESULT CallCreateVssBackupComponents(IVssBackupComponents** components);

// VssFreeSnapshotProperties; does nothing when vssapi.dll lacks it (no record can
// then have come from VSS).
void CallVssFreeSnapshotProperties(VSS_SNAPSHOT_PROP* properties);

}  // namespace quorlin

#endif  // QUORLIN_PLATFORM_WIN32_VSS_API_H
