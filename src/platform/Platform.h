// The host seam: every platform facility that the library uses besides the
// requester. One implementation per platform (win32/, posix/); tests install a
// fake with SetHost. Each method says what it answers on success and what it
// leaves on failure; "last error" is the platform's thread error code
// (GetLastError on Windows, errno on POSIX).
#ifndef QUORLIN_PLATFORM_PLATFORM_H
#define QUORLIN_PLATFORM_PLATFORM_H

#include "QuorlinTypes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorlin {

// Registry value types used by the filter list.
enum : uint32_t { kRegistrySz = 1, kRegistryMultiSz = 7 };

class Host {
public:
    virtual ~Host() = default;

    // --- version and processor facts ---
    // GetVersionExW with the extended (284-byte) or plain (276-byte) record.
    // True with the major version filled in, false when the query fails or does not apply.
    virtual bool QueryMajorVersion(bool extendedRecord, unsigned& majorVersion) = 0;
    // wProcessorArchitecture of the native system (GetNativeSystemInfo when the system
    // has it, else GetSystemInfo).
    virtual uint16_t NativeProcessorArchitecture() = 0;
    // GetSystemMetrics(index).
    virtual int SystemMetric(int index) = 0;

    // --- paths ---
    // The absolute form of `path`, with links resolved through its nearest existing
    // ancestor (on Windows GetFullPathNameW, then GetFinalPathNameByHandleW where the
    // system has it; on POSIX the canonical path), into `fullPath`; into `sizingLength`
    // the length by which Quorlin.h lets a host size the buffer for the snapshot path of
    // `path`: that of the absolute path before resolution when no link lies on the way
    // (resolving may lengthen such a path all the same: Windows expands short names),
    // else that of `fullPath`. False with the last error set.
    virtual bool GetFullPathName(const wchar_t* path, std::wstring& fullPath,
                                 size_t& sizingLength) = 0;
    // Whether `path` names something that exists, links followed (GetFileAttributesW on
    // Windows, stat on POSIX). False with the last error set.
    virtual bool PathExists(const wchar_t* path) = 0;
    // GetVolumePathNameW: the mount path of the volume holding `path`, ending in the
    // separator, into `buffer` of `bufferLength` units. False with the last error set.
    virtual bool GetVolumePathName(const wchar_t* path, wchar_t* buffer, DWORD bufferLength) = 0;
    // Many lookups in a row: between BeginVolumeLookups and its EndVolumeLookups, the two
    // calls above on the same thread may remember what they found for the folders and
    // volumes of earlier paths, and answer as they would have answered when they first
    // looked. Pairs may nest. By default nothing is remembered.
    virtual void BeginVolumeLookups() {}
    virtual void EndVolumeLookups() {}

    // --- memory ---
    // A hint that the library is about to fill the `bytes` bytes at `address`, a block of
    // its own, in one pass: the platform may back a large block with large pages. By
    // default nothing.
    virtual void AdviseBulkWrite(void* /*address*/, size_t /*bytes*/) {}

    // --- COM ---
    // CoInitializeSecurity with the start calls' arguments; its HRESULT.
    virtual HRESULT InitializeComSecurity() = 0;

    // --- process token and privileges ---
    // OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY).
    virtual bool OpenProcessToken(void*& token) = 0;
    // LookupPrivilegeValueW(nullptr, name) into an opaque identifier.
    virtual bool LookupPrivilegeValue(const wchar_t* name, uint64_t& luid) = 0;
    // AdjustTokenPrivileges with one entry (luid, attributes) and no previous state.
    virtual bool AdjustTokenPrivilege(void* token, uint64_t luid, DWORD attributes) = 0;
    virtual void CloseToken(void* token) = 0;

    // --- the volume class's filter list ---
    enum class KeyOpen { kOpened, kFailed, kNotApplicable };
    // RegOpenKeyExW(HKEY_LOCAL_MACHINE, the volume class key, 0, KEY_QUERY_VALUE | KEY_SET_VALUE).
    virtual KeyOpen OpenVolumeClassKey(void*& key) = 0;
    // RegQueryValueExW: on entry `size` is the buffer's byte count; on return the byte count
    // read, or the size needed when the answer is ERROR_MORE_DATA (234). Returns the error code.
    virtual long QueryRegistryValue(void* key, const wchar_t* name, uint32_t& type, uint8_t* data,
                                    uint32_t& size) = 0;
    // RegSetValueExW. Returns the error code.
    virtual long SetRegistryValue(void* key, const wchar_t* name, uint32_t type,
                                  const uint8_t* data, uint32_t size) = 0;
    virtual void CloseKey(void* key) = 0;

    // --- output ---
    // OutputDebugStringW; never fails.
    virtual void OutputDebugText(const wchar_t* text) = 0;
    // One synchronous WriteFile of `size` bytes; the count written is not reported.
    // False with the last error set.
    virtual bool WriteFile(HANDLE handle, const void* data, uint32_t size) = 0;
    // The runtime's wide formatted print to standard output, text as given.
    virtual void WriteStandardOutput(const wchar_t* text) = 0;

    // --- text ---
    // FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM) for `code`.
    // False when the system has no message (or the lookup fails).
    virtual bool SystemMessage(uint32_t code, std::wstring& message) = 0;
    // WideCharToMultiByte(CP_OEMCP, 0): `units` units into at most `capacity` bytes.
    // Returns the bytes produced; 0 on failure.
    virtual size_t WideToOem(const wchar_t* text, size_t units, char* out, size_t capacity) = 0;
    // MultiByteToWideChar(CP_ACP, 0): `bytes` bytes into at most `capacity` units.
    // Returns the units produced; 0 on failure.
    virtual size_t AnsiToWide(const char* text, size_t bytes, wchar_t* out, size_t capacity) = 0;

    // --- last error ---
    virtual uint32_t GetLastError() = 0;
    virtual void SetLastError(uint32_t code) = 0;

    // --- the snapshot service ---
    // True when the service deletes an auto-release snapshot set once the last reference
    // to its components object goes, even after DeleteSnapshots failed (VSS does). The
    // answer here, false, makes every failed deletion a failure of the call.
    virtual bool ReleaseDeletesAutoReleaseSets() { return false; }
};

// The host in use: the platform's own unless a test has installed another.
Host& GetHost();

// The host's lookups in bulk for the life of the scope.
class VolumeLookups {
public:
    VolumeLookups() : host_(GetHost()) { host_.BeginVolumeLookups(); }
    ~VolumeLookups() { host_.EndVolumeLookups(); }
    VolumeLookups(const VolumeLookups&) = delete;
    VolumeLookups& operator=(const VolumeLookups&) = delete;

private:
    Host& host_;
};

// Installs `host` (null restores the platform's own); returns the previous one installed.
Host* SetHost(Host* host);
// The platform's own host (one per platform directory).
Host& PlatformHost();

// The separator of the platform's paths.
wchar_t PlatformPathSeparator();

// The room, in units with the terminator, that the workflows give a volume root:
// MAX_PATH on Windows (what VSS takes), the longest path on POSIX.
DWORD PlatformVolumeRootRoom();

// The room, in units with the terminator, that Quorlin.h promises a host buffer for the
// snapshot path of a path whose sizing length (Host::GetFullPathName) is `sizingLength`.
size_t PlatformSnapshotPathRoom(size_t sizingLength);

}  // namespace quorlin

#endif  // QUORLIN_PLATFORM_PLATFORM_H
