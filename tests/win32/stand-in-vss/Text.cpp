#include "Text.h"

#include <cstdio>
#include <cwchar>

namespace standin {

bool SameName(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring GuidText(const GUID& id) {
    wchar_t text[40];
    std::swprintf(text, 40, L"{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  static_cast<unsigned long>(id.Data1), unsigned{id.Data2}, unsigned{id.Data3},
                  unsigned{id.Data4[0]}, unsigned{id.Data4[1]}, unsigned{id.Data4[2]},
                  unsigned{id.Data4[3]}, unsigned{id.Data4[4]}, unsigned{id.Data4[5]},
                  unsigned{id.Data4[6]}, unsigned{id.Data4[7]});
    return text;
}

bool ParseGuid(const std::wstring& text, GUID& id) {
    unsigned long data1 = 0;
    unsigned int parts[10] = {};
    wchar_t end = 0;
    if (text.size() != 38 ||
        std::swscanf(text.c_str(), L"{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}%lc", &data1,
                     &parts[0], &parts[1], &parts[2], &parts[3], &parts[4], &parts[5], &parts[6],
                     &parts[7], &parts[8], &parts[9], &end) != 11)
        return false;
    id.Data1 = data1;
    id.Data2 = static_cast<unsigned short>(parts[0]);
    id.Data3 = static_cast<unsigned short>(parts[1]);
    for (int i = 0; i < 8; ++i)
        id.Data4[i] = static_cast<unsigned char>(parts[2 + i]);
    return true;
}

std::wstring HexText(HRESULT value) {
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lx", static_cast<unsigned long>(value));
    return text;
}

bool ParseHResult(const std::wstring& text, HRESULT& value) {
    if (text.empty())
        return false;
    wchar_t* end = nullptr;
    const unsigned long long number = std::wcstoull(text.c_str(), &end, 0);
    if (*end != L'\0' || number > 0xFFFFFFFFull)
        return false;
    value = static_cast<HRESULT>(static_cast<unsigned long>(number));
    return true;
}

std::wstring Environment(const wchar_t* name) {
    std::wstring value(256, L'\0');
    for (;;) {
        const DWORD length =
            ::GetEnvironmentVariableW(name, &value[0], static_cast<DWORD>(value.size()));
        if (length < value.size()) {
            value.resize(length);
            return value;
        }
        value.resize(length);
    }
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::wstring::npos)
            end = text.size();
        if (end > start)
            parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty())
        return std::string();
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], size,
                          nullptr, nullptr);
    return bytes;
}

std::wstring Wide(const std::string& bytes) {
    if (bytes.empty())
        return std::wstring();
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], size);
    return text;
}

}  // namespace standin
