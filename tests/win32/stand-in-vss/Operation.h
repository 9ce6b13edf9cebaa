// IVssAsync of the stand-in: the operations that GatherWriterMetadata,
// PrepareForBackup, DoSnapshotSet and BackupComplete hand out. The work is done
// before the operation is handed out, but as VSS's, an operation is still pending
// when handed out: it ends with its status a few milliseconds later (a Wait lasts
// until then), unless the script keeps it pending (see Script.h): then it ends only
// when cancelled. Cancel answers as Microsoft documents: S_OK when it cancelled,
// VSS_S_ASYNC_CANCELLED or VSS_S_ASYNC_FINISHED when the operation had been cancelled
// or had finished, and the operation's failure when it had failed.
#ifndef QUORLIN_STAND_IN_VSS_OPERATION_H
#define QUORLIN_STAND_IN_VSS_OPERATION_H

#include "Script.h"

#include <vss.h>

#include <atomic>
#include <mutex>
#include <string>

namespace standin {

class Operation final : public IVssAsync {
public:
    // An operation of `call` that has ended with `status` (VSS_S_ASYNC_FINISHED or a
    // failure), or that is pending when `status` is VSS_S_ASYNC_PENDING.
    Operation(std::wstring call, HRESULT status, const Script& script);
    ~Operation();
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Cancel() override;
    HRESULT STDMETHODCALLTYPE Wait(DWORD milliseconds) override;
    HRESULT STDMETHODCALLTYPE QueryStatus(HRESULT* status, INT* reserved) override;

private:
    const std::wstring call_;
    std::atomic<ULONG> references_{1};
    std::mutex mutex_;
    // Ends an operation whose time has come; under the lock.
    void Settle();

    HRESULT status_;    // VSS_S_ASYNC_PENDING until it ends
    HRESULT final_;     // what it ends with, VSS_S_ASYNC_PENDING: only when cancelled
    ULONGLONG endsAt_;  // GetTickCount64 when it ends with `final_`
    HANDLE ended_;      // set once the operation has ended
    bool waitScripted_ = false;
    HRESULT waitAnswer_ = S_OK;
    bool queryScripted_ = false;
    HRESULT queryAnswer_ = S_OK;
};

}  // namespace standin

#endif
