#include "diag/SystemErrorText.h"

#include "platform/Platform.h"
#include "text/Format.h"

namespace quorlin {

void GetSystemErrorText(unsigned int errorCode, std::wstring& text) {
    text.clear();
    std::wstring message;
    const int32_t code = static_cast<int32_t>(errorCode);
    if (GetHost().SystemMessage(errorCode, message) && !message.empty())
        text = FormatText(L"%s (Error number %d)", {message, code});
    else
        text = FormatText(L"Error %d", {code});
}

}  // namespace quorlin
