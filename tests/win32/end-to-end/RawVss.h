// The VSS requester interface itself, from the system's vssapi.dll (the stand-in
// under quorlin_wine_vss_test), for the checks that the agent cannot make.
#ifndef QUORLIN_TESTS_END_TO_END_RAW_VSS_H
#define QUORLIN_TESTS_END_TO_END_RAW_VSS_H

#include <vsbackup.h>

#include <memory>

namespace endtoend {

struct ComRelease {
    void operator()(IUnknown* object) const { object->Release(); }
};
using ComponentsPtr = std::unique_ptr<IVssBackupComponents, ComRelease>;

// A new components object; null when CreateVssBackupComponents fails (its answer
// goes to `answer` when given).
ComponentsPtr CreateComponents(HRESULT* answer = nullptr);
// VssFreeSnapshotProperties.
void FreeProperties(VSS_SNAPSHOT_PROP& prop);
// Waits for the operation that a call handed out, releases it and returns its
// status (S_OK for VSS_S_ASYNC_FINISHED); the call's answer when it failed. Make
// the call before, not in, the argument list: the operation is read after it.
HRESULT Finish(HRESULT answer, IVssAsync* operation);

}  // namespace endtoend

#endif
