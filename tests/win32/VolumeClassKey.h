// The volume device class key in the Wine prefix's registry, which does not
// exist until a test makes it. The key is created empty for the life of the
// object and removed after.
#ifndef QUORLIN_TESTS_WIN32_VOLUME_CLASS_KEY_H
#define QUORLIN_TESTS_WIN32_VOLUME_CLASS_KEY_H

#include <windows.h>

#include <string>
#include <vector>

namespace quorlin {
namespace testing {

class VolumeClassKey {
public:
    static constexpr const wchar_t* kPath =
        L"SYSTEM\\CurrentControlSet\\Control\\Class\\{71A27CDD-812A-11D0-BEC7-08002BE2092F}";

    VolumeClassKey() {
        Remove();
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                          nullptr);
    }
    ~VolumeClassKey() {
        if (key_ != nullptr)
            ::RegCloseKey(key_);
        Remove();
    }
    VolumeClassKey(const VolumeClassKey&) = delete;
    VolumeClassKey& operator=(const VolumeClassKey&) = delete;

    static void Remove() { ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kPath); }

    bool Exists() const { return key_ != nullptr; }

    // Stores "UpperFilters" as `type` with exactly `bytes`.
    void SetFilters(DWORD type, const std::wstring& bytes) {
        ::RegSetValueExW(key_, L"UpperFilters", 0, type,
                         reinterpret_cast<const BYTE*>(bytes.data()),
                         static_cast<DWORD>(bytes.size() * sizeof(wchar_t)));
    }
    // A list (REG_MULTI_SZ) holding `entries`.
    void SetFilterList(const std::vector<std::wstring>& entries) {
        std::wstring list;
        for (const std::wstring& entry : entries)
            list.append(entry).push_back(L'\0');
        list.push_back(L'\0');
        SetFilters(REG_MULTI_SZ, list);
    }

    // The stored value: false when it is absent.
    bool ReadFilters(DWORD& type, std::wstring& units) const {
        DWORD size = 0;
        if (::RegQueryValueExW(key_, L"UpperFilters", nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS)
            return false;
        units.assign(size / sizeof(wchar_t), L'\0');
        return ::RegQueryValueExW(key_, L"UpperFilters", nullptr, &type,
                                  reinterpret_cast<BYTE*>(&units[0]), &size) == ERROR_SUCCESS;
    }

private:
    HKEY key_ = nullptr;
};

}  // namespace testing
}  // namespace quorlin

#endif
