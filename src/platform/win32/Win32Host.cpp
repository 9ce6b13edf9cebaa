// The host seam on Windows: each method forwards to the real call.
#include "platform/Platform.h"

#include "platform/win32/FinalPath.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <memory>

namespace quorlin {

namespace {

const wchar_t kVolumeClassKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{71A27CDD-812A-11D0-BEC7-08002BE2092F}";

struct LocalBufferFree {
    void operator()(wchar_t* buffer) const { ::LocalFree(buffer); }
};

// Input and output counts that the code-page conversions take as they are.
bool FitsConversion(size_t input, size_t capacity) {
    const size_t limit = 0x7FFFFFFF;
    return input != 0 && capacity != 0 && input <= limit && capacity <= limit;
}

// GetFullPathNameW. The first answer is the size with the terminator; a second answer
// that is not smaller than the buffer is the size needed now (the current directory
// changed in between), so try again with that.
bool AbsolutePath(const wchar_t* path, std::wstring& absolute) {
    DWORD size = ::GetFullPathNameW(path, 0, nullptr, nullptr);
    while (size != 0) {
        std::wstring buffer(size, L'\0');
        const DWORD length = ::GetFullPathNameW(path, size, &buffer[0], nullptr);
        if (length == 0)
            return false;
        if (length < size) {
            buffer.resize(length);
            absolute.swap(buffer);
            return true;
        }
        size = length;
    }
    return false;
}

class Win32Host : public Host {
public:
    bool QueryMajorVersion(bool extendedRecord, unsigned& majorVersion) override {
        OSVERSIONINFOEXW info;
        ZeroMemory(&info, sizeof info);
        info.dwOSVersionInfoSize =
            extendedRecord ? sizeof(OSVERSIONINFOEXW) : sizeof(OSVERSIONINFOW);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)))
            return false;
#pragma GCC diagnostic pop
        majorVersion = info.dwMajorVersion;
        return true;
    }

    uint16_t NativeProcessorArchitecture() override {
        SYSTEM_INFO info;
        ZeroMemory(&info, sizeof info);
        typedef void(WINAPI * NativeInfoFunction)(LPSYSTEM_INFO);
        HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
        FARPROC address = kernel ? ::GetProcAddress(kernel, "GetNativeSystemInfo") : nullptr;
        if (address != nullptr)
            reinterpret_cast<NativeInfoFunction>(reinterpret_cast<void*>(address))(&info);
        else
            ::GetSystemInfo(&info);
        return info.wProcessorArchitecture;
    }

    int SystemMetric(int index) override { return ::GetSystemMetrics(index); }

    // The absolute path, then the path it finally names: a symbolic link, junction or
    // mounted folder on the way leads to the volume that really holds the file. A host
    // sizes its buffer by the absolute path unless a link lies on the way; a final path
    // that is not longer needs no look at which.
    bool GetFullPathName(const wchar_t* path, std::wstring& fullPath,
                         size_t& sizingLength) override {
        std::wstring absolute;
        if (!AbsolutePath(path, absolute))
            return false;
        if (!ResolveFinalPath(absolute, fullPath))
            fullPath = absolute;
        sizingLength = fullPath.size() > absolute.size() && ResolvedThroughLinks(absolute, fullPath)
                           ? fullPath.size()
                           : std::min(absolute.size(), fullPath.size());
        return true;
    }

    bool PathExists(const wchar_t* path) override {
        return ::GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
    }

    bool GetVolumePathName(const wchar_t* path, wchar_t* buffer, DWORD bufferLength) override {
        return ::GetVolumePathNameW(path, buffer, bufferLength) != FALSE;
    }

    HRESULT InitializeComSecurity() override {
        return ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_CONNECT,
                                      RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    }

    bool OpenProcessToken(void*& token) override {
        HANDLE handle = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                                &handle))
            return false;
        token = handle;
        return true;
    }

    bool LookupPrivilegeValue(const wchar_t* name, uint64_t& luid) override {
        LUID value;
        if (!::LookupPrivilegeValueW(nullptr, name, &value))
            return false;
        luid = (static_cast<uint64_t>(static_cast<uint32_t>(value.HighPart)) << 32) | value.LowPart;
        return true;
    }

    bool AdjustTokenPrivilege(void* token, uint64_t luid, DWORD attributes) override {
        TOKEN_PRIVILEGES privileges;
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Luid.LowPart = static_cast<DWORD>(luid & 0xFFFFFFFFu);
        privileges.Privileges[0].Luid.HighPart = static_cast<LONG>(luid >> 32);
        privileges.Privileges[0].Attributes = attributes;
        return ::AdjustTokenPrivileges(static_cast<HANDLE>(token), FALSE, &privileges, 0, nullptr,
                                       nullptr) != FALSE;
    }

    void CloseToken(void* token) override { ::CloseHandle(static_cast<HANDLE>(token)); }

    KeyOpen OpenVolumeClassKey(void*& key) override {
        HKEY handle = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kVolumeClassKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                            &handle) != ERROR_SUCCESS)
            return KeyOpen::kFailed;
        key = handle;
        return KeyOpen::kOpened;
    }

    long QueryRegistryValue(void* key, const wchar_t* name, uint32_t& type, uint8_t* data,
                            uint32_t& size) override {
        DWORD valueType = 0;
        DWORD valueSize = size;
        LONG result =
            ::RegQueryValueExW(static_cast<HKEY>(key), name, nullptr, &valueType, data, &valueSize);
        type = valueType;
        size = valueSize;
        return result;
    }

    long SetRegistryValue(void* key, const wchar_t* name, uint32_t type, const uint8_t* data,
                          uint32_t size) override {
        return ::RegSetValueExW(static_cast<HKEY>(key), name, 0, type, data, size);
    }

    void CloseKey(void* key) override { ::RegCloseKey(static_cast<HKEY>(key)); }

    void OutputDebugText(const wchar_t* text) override { ::OutputDebugStringW(text); }

    bool WriteFile(HANDLE handle, const void* data, uint32_t size) override {
        DWORD written = 0;
        return ::WriteFile(handle, data, size, &written, nullptr) != FALSE;
    }

    void WriteStandardOutput(const wchar_t* text) override {
        // The runtime's print may touch the thread's error code; the caller reads
        // the code of the platform call before it afterwards.
        const DWORD error = ::GetLastError();
        std::fputws(text, stdout);
        std::fflush(stdout);
        ::SetLastError(error);
    }

    bool SystemMessage(uint32_t code, std::wstring& message) override {
        wchar_t* buffer = nullptr;
        const DWORD count =
            ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                             code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                             reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
        if (buffer == nullptr)
            return false;
        std::unique_ptr<wchar_t, LocalBufferFree> owned(buffer);
        if (count == 0)
            return false;
        message.assign(buffer, count);
        return true;
    }

    // A zero output size would make the conversions answer the size they need
    // instead of converting, so it is refused like any other failure.
    size_t WideToOem(const wchar_t* text, size_t units, char* out, size_t capacity) override {
        if (!FitsConversion(units, capacity))
            return 0;
        const int produced = ::WideCharToMultiByte(CP_OEMCP, 0, text, static_cast<int>(units), out,
                                                   static_cast<int>(capacity), nullptr, nullptr);
        return produced > 0 ? static_cast<size_t>(produced) : 0;
    }

    size_t AnsiToWide(const char* text, size_t bytes, wchar_t* out, size_t capacity) override {
        if (!FitsConversion(bytes, capacity))
            return 0;
        const int produced = ::MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(bytes), out,
                                                   static_cast<int>(capacity));
        return produced > 0 ? static_cast<size_t>(produced) : 0;
    }

    uint32_t GetLastError() override { return ::GetLastError(); }
    void SetLastError(uint32_t code) override { ::SetLastError(code); }

    bool ReleaseDeletesAutoReleaseSets() override { return true; }
};

}  // namespace

Host& PlatformHost() {
    static Win32Host host;
    return host;
}

wchar_t PlatformPathSeparator() { return L'\\'; }

DWORD PlatformVolumeRootRoom() { return MAX_PATH; }

// A VSS device name (\\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyNNN) is under 64 units.
size_t PlatformSnapshotPathRoom(size_t sizingLength) { return sizingLength + 64; }

}  // namespace quorlin
