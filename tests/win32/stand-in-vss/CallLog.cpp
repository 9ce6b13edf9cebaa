#include "CallLog.h"

#include "Text.h"

namespace standin {

void LogLine(const std::wstring& line) noexcept {
    try {
        const std::wstring path = Environment(L"QUORLIN_VSS_LOG");
        if (path.empty())
            return;
        const std::string bytes = Utf8(line) + "\n";
        HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return;
        DWORD written = 0;
        ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        ::CloseHandle(file);
    } catch (...) {
        // a line that cannot be made is not recorded
    }
}

HRESULT LogAnswer(const std::wstring& call, HRESULT answer, const std::wstring& details) noexcept {
    try {
        LogLine(call + L" -> " + HexText(answer) + (details.empty() ? L"" : L" " + details));
    } catch (...) {
        // as above
    }
    return answer;
}

}  // namespace standin
