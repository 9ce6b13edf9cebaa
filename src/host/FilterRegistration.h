// Whether the volume snapshot filter is registered for the volume device class.
#ifndef QUORLIN_HOST_FILTER_REGISTRATION_H
#define QUORLIN_HOST_FILTER_REGISTRATION_H

namespace quorlin {

// True when the version query succeeds and reports major version 6.
bool IsMajorVersion6();

// 1 when "VolSnap" is in the volume class's "UpperFilters" list, or the check does
// not apply (major version 6, or a platform without the list); 0 when the class key
// cannot be opened or the filter is missing. A missing filter is added to the list
// (every entry kept), or the list created when absent; this call still answers 0.
// A value that cannot be read whole is left as it is.
int CheckVolSnapFilter();

}  // namespace quorlin

#endif
