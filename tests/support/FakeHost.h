// A scripted host seam: records what the library sends out and answers what a
// test sets. Install it for the life of a test with FakeHost::Scope.
#ifndef QUORLIN_TESTS_FAKE_HOST_H
#define QUORLIN_TESTS_FAKE_HOST_H

#include "platform/Platform.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace quorlin {
namespace testing {

class FakeHost : public Host {
public:
    // Installs the fake for the scope's life and restores the previous host after.
    class Scope {
    public:
        explicit Scope(FakeHost& host) : previous_(SetHost(&host)) {}
        ~Scope() { SetHost(previous_); }

    private:
        Host* previous_;
    };

    // --- scripted answers ---
    bool versionAvailable = false;  // both version queries fail by default
    bool extendedVersionFails = false;
    unsigned majorVersion = 10;
    uint16_t architecture = 9;
    int serverR2Metric = 0;
    std::vector<std::string> versionQueries;  // "extended" / "plain", in order

    // Volume roots by path prefix (longest wins); paths without one fail with volumeError.
    std::map<std::wstring, std::wstring> volumeRoots;
    uint32_t volumeError = 2;
    // Paths that PathExists says do not exist.
    std::vector<std::wstring> missingPaths;
    // Full paths by path; a path not listed is its own full path.
    std::map<std::wstring, std::wstring> fullPaths;
    // Paths whose full path cannot be had, with the last error they leave.
    std::map<std::wstring, uint32_t> fullPathErrors;
    std::vector<std::wstring> volumeLookups;
    // Lookup sessions opened (BeginVolumeLookups), still open, and the volume lookups made
    // while one was open.
    int lookupSessions = 0;
    int openLookupSessions = 0;
    int lookupsInSessions = 0;
    // The blocks that the library said it was about to fill.
    std::vector<std::pair<void*, size_t>> bulkWrites;
    // False: volume lookups are answered but not kept in volumeLookups (for long runs).
    bool recording = true;

    HRESULT comSecurityResult = S_OK;
    int comSecurityCalls = 0;

    bool tokenOpens = true;
    uint32_t tokenOpenError = 5;
    std::map<std::wstring, uint64_t> privileges = {{L"SeBackupPrivilege", 17}};
    uint32_t lookupError = 1313;
    bool adjustSucceeds = true;
    uint32_t adjustLastError = 0;  // 1300 when the privilege is not held
    std::vector<std::string> tokenCalls;
    int openTokens = 0;

    KeyOpen keyOpen = KeyOpen::kOpened;
    bool filterValuePresent = false;
    uint32_t filterValueType = kRegistryMultiSz;
    std::vector<uint8_t> filterValue;
    long setValueResult = 0;
    std::vector<std::string> registryCalls;
    int openKeys = 0;

    // What the snapshot service does with an auto-release set at its release.
    bool releaseDeletesAutoReleaseSets = false;

    bool consoleFails = false;
    uint32_t consoleError = 6;
    std::map<uint32_t, std::wstring> systemMessages;

    // --- what the library sent ---
    std::vector<std::wstring> debugOutput;
    std::map<HANDLE, std::string> consoleBytes;
    std::vector<uint32_t> consoleWriteSizes;
    std::wstring standardOutput;

    // Debug messages joined, with the "\r\n" messages as line ends.
    std::wstring DebugText() const;
    // The filter value as a list of strings (REG_MULTI_SZ), stopping at the empty entry.
    std::vector<std::wstring> FilterEntries() const;

    // --- Host ---
    bool QueryMajorVersion(bool extendedRecord, unsigned& major) override;
    uint16_t NativeProcessorArchitecture() override { return architecture; }
    int SystemMetric(int index) override { return index == 89 ? serverR2Metric : 0; }
    // The sizing length is that of the full path.
    bool GetFullPathName(const wchar_t* path, std::wstring& fullPath,
                         size_t& sizingLength) override;
    // Every path exists but those in `missingPaths` (lastError 2).
    bool PathExists(const wchar_t* path) override;
    bool GetVolumePathName(const wchar_t* path, wchar_t* buffer, DWORD bufferLength) override;
    void BeginVolumeLookups() override {
        ++lookupSessions;
        ++openLookupSessions;
    }
    void EndVolumeLookups() override { --openLookupSessions; }
    void AdviseBulkWrite(void* address, size_t bytes) override {
        bulkWrites.emplace_back(address, bytes);
    }
    HRESULT InitializeComSecurity() override;
    bool OpenProcessToken(void*& token) override;
    bool LookupPrivilegeValue(const wchar_t* name, uint64_t& luid) override;
    bool AdjustTokenPrivilege(void* token, uint64_t luid, DWORD attributes) override;
    void CloseToken(void* token) override;
    KeyOpen OpenVolumeClassKey(void*& key) override;
    long QueryRegistryValue(void* key, const wchar_t* name, uint32_t& type, uint8_t* data,
                            uint32_t& size) override;
    long SetRegistryValue(void* key, const wchar_t* name, uint32_t type, const uint8_t* data,
                          uint32_t size) override;
    void CloseKey(void* key) override;
    void OutputDebugText(const wchar_t* text) override { debugOutput.push_back(text); }
    bool WriteFile(HANDLE handle, const void* data, uint32_t size) override;
    void WriteStandardOutput(const wchar_t* text) override { standardOutput += text; }
    bool SystemMessage(uint32_t code, std::wstring& message) override;
    size_t WideToOem(const wchar_t* text, size_t units, char* out, size_t capacity) override;
    size_t AnsiToWide(const char* text, size_t bytes, wchar_t* out, size_t capacity) override;
    bool ReleaseDeletesAutoReleaseSets() override { return releaseDeletesAutoReleaseSets; }
    uint32_t GetLastError() override { return lastError; }
    void SetLastError(uint32_t code) override { lastError = code; }

    uint32_t lastError = 0;
};

}  // namespace testing
}  // namespace quorlin

#endif
