// The real Win32 host seam with another major version reported: Wine reports
// 6.1, on which the filter check leaves the registry alone. Everything else is
// the platform's own.
#ifndef QUORLIN_TESTS_WIN32_REPORTED_VERSION_HOST_H
#define QUORLIN_TESTS_WIN32_REPORTED_VERSION_HOST_H

#include "platform/Platform.h"

namespace quorlin {
namespace testing {

class ReportedVersionHost : public Host {
public:
    // Installed for the life of the object.
    explicit ReportedVersionHost(unsigned majorVersion)
        : major_(majorVersion), previous_(SetHost(this)) {}
    ~ReportedVersionHost() override { SetHost(previous_); }
    ReportedVersionHost(const ReportedVersionHost&) = delete;
    ReportedVersionHost& operator=(const ReportedVersionHost&) = delete;

    bool QueryMajorVersion(bool, unsigned& majorVersion) override {
        majorVersion = major_;
        return true;
    }

    uint16_t NativeProcessorArchitecture() override { return real_.NativeProcessorArchitecture(); }
    int SystemMetric(int index) override { return real_.SystemMetric(index); }
    bool GetFullPathName(const wchar_t* path, std::wstring& fullPath,
                         size_t& sizingLength) override {
        return real_.GetFullPathName(path, fullPath, sizingLength);
    }
    bool PathExists(const wchar_t* path) override { return real_.PathExists(path); }
    bool GetVolumePathName(const wchar_t* path, wchar_t* buffer, DWORD length) override {
        return real_.GetVolumePathName(path, buffer, length);
    }
    HRESULT InitializeComSecurity() override { return real_.InitializeComSecurity(); }
    bool OpenProcessToken(void*& token) override { return real_.OpenProcessToken(token); }
    bool LookupPrivilegeValue(const wchar_t* name, uint64_t& luid) override {
        return real_.LookupPrivilegeValue(name, luid);
    }
    bool AdjustTokenPrivilege(void* token, uint64_t luid, DWORD attributes) override {
        return real_.AdjustTokenPrivilege(token, luid, attributes);
    }
    void CloseToken(void* token) override { real_.CloseToken(token); }
    KeyOpen OpenVolumeClassKey(void*& key) override { return real_.OpenVolumeClassKey(key); }
    long QueryRegistryValue(void* key, const wchar_t* name, uint32_t& type, uint8_t* data,
                            uint32_t& size) override {
        return real_.QueryRegistryValue(key, name, type, data, size);
    }
    long SetRegistryValue(void* key, const wchar_t* name, uint32_t type, const uint8_t* data,
                          uint32_t size) override {
        return real_.SetRegistryValue(key, name, type, data, size);
    }
    void CloseKey(void* key) override { real_.CloseKey(key); }
    void OutputDebugText(const wchar_t* text) override { real_.OutputDebugText(text); }
    bool WriteFile(HANDLE handle, const void* data, uint32_t size) override {
        return real_.WriteFile(handle, data, size);
    }
    void WriteStandardOutput(const wchar_t* text) override { real_.WriteStandardOutput(text); }
    bool SystemMessage(uint32_t code, std::wstring& message) override {
        return real_.SystemMessage(code, message);
    }
    size_t WideToOem(const wchar_t* text, size_t units, char* out, size_t capacity) override {
        return real_.WideToOem(text, units, out, capacity);
    }
    size_t AnsiToWide(const char* text, size_t bytes, wchar_t* out, size_t capacity) override {
        return real_.AnsiToWide(text, bytes, out, capacity);
    }
    uint32_t GetLastError() override { return real_.GetLastError(); }
    void SetLastError(uint32_t code) override { real_.SetLastError(code); }

private:
    Host& real_ = PlatformHost();
    unsigned major_;
    Host* previous_;
};

}  // namespace testing
}  // namespace quorlin

#endif
