#include "Script.h"

#include "CallLog.h"
#include "Text.h"

namespace standin {

namespace {

const wchar_t kPending[] = L"pending";
const DWORD kLongestPause = 60000;

bool EndsWith(const std::wstring& text, const std::wstring& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

HANDLE NamedEvent(const std::wstring& name) {
    return ::CreateEventW(nullptr, TRUE, FALSE, name.c_str());
}

}  // namespace

bool Script::Read(const std::wstring& text, std::wstring& wrong) {
    for (const std::wstring& entry : Split(text, L';')) {
        const size_t equals = entry.find(L'=');
        wrong = entry;
        if (equals == 0 || equals == std::wstring::npos || equals + 1 == entry.size())
            return false;
        const std::wstring key = entry.substr(0, equals);
        const std::wstring value = entry.substr(equals + 1);
        HRESULT answer = S_OK;
        const bool pause = EndsWith(key, L".Pause");
        const bool pending = EndsWith(key, L".Status") && value == kPending;
        if (!pause && !pending && !ParseHResult(value, answer))
            return false;
        entries_[key] = value;
    }
    wrong.clear();
    return true;
}

bool Script::Answer(const std::wstring& key, HRESULT& answer) const {
    const auto found = entries_.find(key);
    return found != entries_.end() && found->second != kPending &&
           ParseHResult(found->second, answer);
}

bool Script::Pending(const std::wstring& call) const {
    const auto found = entries_.find(call + L".Status");
    return found != entries_.end() && found->second == kPending;
}

void Script::PauseAfter(const std::wstring& call) const {
    const auto found = entries_.find(call + L".Pause");
    if (found == entries_.end())
        return;
    HANDLE paused = NamedEvent(found->second + L"-paused");
    HANDLE resume = NamedEvent(found->second + L"-resume");
    LogLine(L"* " + call + L" paused");
    if (paused != nullptr && resume != nullptr) {
        ::SetEvent(paused);
        const bool resumed = ::WaitForSingleObject(resume, kLongestPause) == WAIT_OBJECT_0;
        LogLine(L"* " + call + (resumed ? L" resumed" : L" resumed after 60 s"));
    }
    if (paused != nullptr)
        ::CloseHandle(paused);
    if (resume != nullptr)
        ::CloseHandle(resume);
}

}  // namespace standin
