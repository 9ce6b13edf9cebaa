#include "SnapshotList.h"

#include "CallLog.h"
#include "Properties.h"
#include "Unknown.h"

#include <new>

namespace standin {

HRESULT SnapshotList::QueryInterface(REFIID iid, void** object) {
    return QueryAs<IVssEnumObject>(this, iid, object);
}

ULONG SnapshotList::Release() {
    const ULONG left = --references_;
    if (left == 0)
        delete this;
    return left;
}

HRESULT SnapshotList::Next(ULONG count, VSS_OBJECT_PROP* items, ULONG* fetched) {
    if (items == nullptr || (fetched == nullptr && count != 1))
        return LogAnswer(L"Query.Next", E_INVALIDARG);
    std::lock_guard<std::mutex> lock(mutex_);
    ULONG filled = 0;
    for (; filled < count && next_ < records_.size(); ++filled, ++next_) {
        items[filled].Type = VSS_OBJECT_SNAPSHOT;
        const HRESULT hr = FillProperties(store_, records_[next_], items[filled].Obj.Snap);
        if (FAILED(hr)) {
            while (filled > 0)
                FreeProperties(items[--filled].Obj.Snap);
            return LogAnswer(L"Query.Next", hr);
        }
    }
    if (fetched != nullptr)
        *fetched = filled;
    return LogAnswer(L"Query.Next " + std::to_wstring(count), filled == count ? S_OK : S_FALSE,
                     L"fetched " + std::to_wstring(filled));
}

HRESULT SnapshotList::Skip(ULONG count) {
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t left = records_.size() - next_;
    next_ += count < left ? count : left;
    return LogAnswer(L"Query.Skip " + std::to_wstring(count), count <= left ? S_OK : S_FALSE);
}

HRESULT SnapshotList::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    next_ = 0;
    return LogAnswer(L"Query.Reset", S_OK);
}

HRESULT SnapshotList::Clone(IVssEnumObject** copy) {
    if (copy == nullptr)
        return LogAnswer(L"Query.Clone", E_INVALIDARG);
    std::lock_guard<std::mutex> lock(mutex_);
    try {
        *copy = new SnapshotList(store_, records_, next_);
    } catch (const std::bad_alloc&) {
        *copy = nullptr;
        return LogAnswer(L"Query.Clone", E_OUTOFMEMORY);
    }
    return LogAnswer(L"Query.Clone", S_OK);
}

}  // namespace standin
