#include "Operation.h"

#include "CallLog.h"
#include "Text.h"
#include "Unknown.h"

#include <vsserror.h>

namespace standin {

Operation::Operation(std::wstring call, HRESULT status, const Script& script)
    : call_(std::move(call)),
      status_(status),
      ended_(::CreateEventW(nullptr, TRUE, status != VSS_S_ASYNC_PENDING, nullptr)) {
    waitScripted_ = script.Answer(call_ + L".Wait", waitAnswer_);
    queryScripted_ = script.Answer(call_ + L".QueryStatus", queryAnswer_);
}

Operation::~Operation() {
    if (ended_ != nullptr)
        ::CloseHandle(ended_);
}

HRESULT Operation::QueryInterface(REFIID iid, void** object) {
    return QueryAs<IVssAsync>(this, iid, object);
}

ULONG Operation::AddRef() { return ++references_; }

ULONG Operation::Release() {
    const ULONG left = --references_;
    if (left == 0) {
        LogLine(call_ + L".Release -> 0");
        delete this;
    }
    return left;
}

HRESULT Operation::Cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    HRESULT answer = S_OK;
    if (status_ == VSS_S_ASYNC_PENDING) {
        status_ = VSS_S_ASYNC_CANCELLED;
        ::SetEvent(ended_);
    } else {
        answer = status_ == VSS_S_ASYNC_CANCELLED ? VSS_S_ASYNC_CANCELLED : VSS_S_ASYNC_FINISHED;
    }
    return LogAnswer(call_ + L".Cancel", answer);
}

HRESULT Operation::Wait(DWORD milliseconds) {
    const std::wstring call = call_ + L".Wait " + std::to_wstring(milliseconds);
    if (waitScripted_)
        return LogAnswer(call, waitAnswer_, L"(scripted)");
    // Not under the lock: Cancel must get through while a Wait blocks.
    const DWORD waited = ::WaitForSingleObject(ended_, milliseconds);
    return LogAnswer(call, S_OK, waited == WAIT_OBJECT_0 ? L"" : L"(timed out)");
}

HRESULT Operation::QueryStatus(HRESULT* status, INT* reserved) {
    const std::wstring call = call_ + L".QueryStatus";
    if (queryScripted_)
        return LogAnswer(call, queryAnswer_, L"(scripted)");
    if (status == nullptr || reserved != nullptr)
        return LogAnswer(call, E_INVALIDARG);
    std::lock_guard<std::mutex> lock(mutex_);
    *status = status_;
    return LogAnswer(call, S_OK, L"status " + HexText(status_));
}

}  // namespace standin
