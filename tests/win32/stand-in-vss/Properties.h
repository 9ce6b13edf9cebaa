// Snapshot properties as VSS hands them out: the strings belong to the caller,
// who frees them with VssFreeSnapshotProperties.
#ifndef QUORLIN_STAND_IN_VSS_PROPERTIES_H
#define QUORLIN_STAND_IN_VSS_PROPERTIES_H

#include "Store.h"

#include <vss.h>

namespace standin {

// The provider that the stand-in's snapshots name as theirs.
extern const VSS_ID kProviderId;

// Fills `prop` for `record`; E_OUTOFMEMORY (with nothing to free) when it cannot.
HRESULT FillProperties(const Store& store, const SnapshotRecord& record, VSS_SNAPSHOT_PROP& prop);

// Frees the strings of `prop` and sets them to null.
void FreeProperties(VSS_SNAPSHOT_PROP& prop);

}  // namespace standin

#endif
