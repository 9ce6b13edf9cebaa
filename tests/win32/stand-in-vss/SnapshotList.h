// IVssEnumObject over the snapshots that Query found. Each VSS_OBJECT_PROP that
// Next hands out belongs to the caller, who frees it with VssFreeSnapshotProperties.
#ifndef QUORLIN_STAND_IN_VSS_SNAPSHOT_LIST_H
#define QUORLIN_STAND_IN_VSS_SNAPSHOT_LIST_H

#include "Store.h"

#include <vss.h>

#include <atomic>
#include <mutex>
#include <vector>

namespace standin {

class SnapshotList final : public IVssEnumObject {
public:
    SnapshotList(Store store, std::vector<SnapshotRecord> records, size_t next = 0)
        : store_(std::move(store)), records_(std::move(records)), next_(next) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Next(ULONG count, VSS_OBJECT_PROP* items, ULONG* fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IVssEnumObject** copy) override;

private:
    const Store store_;
    const std::vector<SnapshotRecord> records_;
    std::atomic<ULONG> references_{1};
    std::mutex mutex_;
    size_t next_;
};

}  // namespace standin

#endif
