#include "Operation.h"

#include "CallLog.h"
#include "Text.h"
#include "Unknown.h"

#include <vsserror.h>

#include <algorithm>

namespace standin {

namespace {

// How long an operation whose work is done stays pending once handed out.
const ULONGLONG kPendingMs = 5;

}  // namespace

Operation::Operation(std::wstring call, HRESULT status, const Script& script)
    : call_(std::move(call)),
      status_(VSS_S_ASYNC_PENDING),
      final_(status),
      endsAt_(::GetTickCount64() + kPendingMs),
      ended_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
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

void Operation::Settle() {
    if (status_ == VSS_S_ASYNC_PENDING && final_ != VSS_S_ASYNC_PENDING &&
        ::GetTickCount64() >= endsAt_) {
        status_ = final_;
        ::SetEvent(ended_);
    }
}

HRESULT Operation::Cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    Settle();
    HRESULT answer = S_OK;
    if (status_ == VSS_S_ASYNC_PENDING) {
        status_ = VSS_S_ASYNC_CANCELLED;
        ::SetEvent(ended_);
    } else {
        // As Microsoft documents it: an operation that has failed answers its failure.
        answer = status_;
    }
    return LogAnswer(call_ + L".Cancel", answer);
}

HRESULT Operation::Wait(DWORD milliseconds) {
    const std::wstring call = call_ + L".Wait " + std::to_wstring(milliseconds);
    DWORD left = milliseconds;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Settle();
        const ULONGLONG now = ::GetTickCount64();
        if (status_ == VSS_S_ASYNC_PENDING && final_ != VSS_S_ASYNC_PENDING)
            left = static_cast<DWORD>(std::min<ULONGLONG>(milliseconds, endsAt_ - now));
    }
    // Not under the lock: Cancel must get through while a Wait blocks.
    DWORD waited = ::WaitForSingleObject(ended_, left);
    if (waited != WAIT_OBJECT_0) {
        std::lock_guard<std::mutex> lock(mutex_);
        Settle();
        waited = ::WaitForSingleObject(ended_, 0);
    }
    // A scripted answer comes once the wait is over.
    if (waitScripted_)
        return LogAnswer(call, waitAnswer_, L"(scripted)");
    return LogAnswer(call, S_OK, waited == WAIT_OBJECT_0 ? L"" : L"(timed out)");
}

HRESULT Operation::QueryStatus(HRESULT* status, INT* reserved) {
    const std::wstring call = call_ + L".QueryStatus";
    if (queryScripted_)
        return LogAnswer(call, queryAnswer_, L"(scripted)");
    if (status == nullptr || reserved != nullptr)
        return LogAnswer(call, E_INVALIDARG);
    std::lock_guard<std::mutex> lock(mutex_);
    Settle();
    *status = status_;
    return LogAnswer(call, S_OK, L"status " + HexText(status_));
}

}  // namespace standin
