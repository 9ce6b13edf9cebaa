// Snapshot and set identities: random GUIDs and their text form in file names.
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_GUID_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_GUID_H

#include "QuorlinTypes.h"

#include <string>

namespace quorlin {

// A new random (version 4) GUID. Returns 0 or an errno value.
int NewRandomGuid(GUID& guid);

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", lower case, as GUIDs are usually written.
std::string GuidText(const GUID& guid);
// The inverse of GuidText (either case); false when `text` is not exactly that form.
bool ParseGuid(const std::string& text, GUID& guid);

}  // namespace quorlin

#endif
