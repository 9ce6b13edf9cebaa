// The requester seam's components object over IVssBackupComponents.
#ifndef QUORLIN_PLATFORM_WIN32_VSS_COMPONENTS_H
#define QUORLIN_PLATFORM_WIN32_VSS_COMPONENTS_H

#include "platform/win32/VssApi.h"
#include "platform/Requester.h"

#include <vsbackup.h>

namespace quorlin {

// Frees the strings of a properties record that VSS filled in.
using SnapshotPropFree = void (*)(VSS_SNAPSHOT_PROP*);

// Puts an adapter over `native` (not null) into `components`, taking over the
// caller's reference to it. Records of GetSnapshotProperties go to `freeProp`
// as soon as they are copied. Throws std::bad_alloc, after releasing `native`,
// when the adapter cannot be made.
void AdoptVssBackupComponents(IVssBackupComponents* native, ComPtr<BackupComponents>& components,
                              SnapshotPropFree freeProp = &CallVssFreeSnapshotProperties);

}  // namespace quorlin

#endif  // QUORLIN_PLATFORM_WIN32_VSS_COMPONENTS_H
