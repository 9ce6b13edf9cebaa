#include "host/Privilege.h"

#include "platform/Platform.h"
#include "text/Format.h"

namespace quorlin {

namespace {

// SE_PRIVILEGE_ENABLED | SE_PRIVILEGE_ENABLED_BY_DEFAULT
const DWORD kEnabledAttributes = 0x3;

// The process token, closed on every path once opened.
class ProcessToken {
public:
    explicit ProcessToken(Host& host) : host_(host) { opened_ = host_.OpenProcessToken(token_); }
    ~ProcessToken() {
        if (opened_)
            host_.CloseToken(token_);
    }
    ProcessToken(const ProcessToken&) = delete;
    ProcessToken& operator=(const ProcessToken&) = delete;

    bool Opened() const { return opened_; }
    void* Get() const { return token_; }

private:
    Host& host_;
    void* token_ = nullptr;
    bool opened_ = false;
};

}  // namespace

int AssertPrivilege(const wchar_t* privilegeName) {
    Host& host = GetHost();
    ProcessToken token(host);
    if (!token.Opened())
        return 0;

    uint64_t luid = 0;
    if (!host.LookupPrivilegeValue(privilegeName, luid))
        return 0;

    // The adjustment succeeds even for a privilege the account lacks; only the
    // last error (ERROR_NOT_ALL_ASSIGNED) tells.
    host.SetLastError(0);
    int result = host.AdjustTokenPrivilege(token.Get(), luid, kEnabledAttributes) ? 1 : 0;
    const uint32_t error = host.GetLastError();
    if (error != 0)
        result = 0;
    if (result == 0) {
        host.WriteStandardOutput(
            FormatText(L"AdjustTokenPrivileges for %s failed with %d", {privilegeName, error})
                .c_str());
        host.SetLastError(error);  // the caller reports the adjustment's code, not the print's
    }
    return result;
}

}  // namespace quorlin
