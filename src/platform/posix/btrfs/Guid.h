// Snapshot and set identities: random GUIDs and their text form in file names.
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_GUID_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_GUID_H

#include "text/GuidText.h"

namespace quorlin {

// A new random (version 4) GUID. Returns 0 or an errno value.
int NewRandomGuid(GUID& guid);

}  // namespace quorlin

#endif
