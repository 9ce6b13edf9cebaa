#include "support/FakeHost.h"

#include <cstring>
#include <cwchar>

namespace quorlin {
namespace testing {

std::wstring FakeHost::DebugText() const {
    std::wstring text;
    for (const std::wstring& message : debugOutput)
        text += message;
    return text;
}

std::vector<std::wstring> FakeHost::FilterEntries() const {
    std::vector<std::wstring> entries;
    std::wstring current;
    for (size_t i = 0; i + 1 < filterValue.size(); i += 2) {
        const wchar_t unit = static_cast<wchar_t>(filterValue[i] | (filterValue[i + 1] << 8));
        if (unit != L'\0') {
            current += unit;
        } else if (current.empty()) {
            break;
        } else {
            entries.push_back(current);
            current.clear();
        }
    }
    if (!current.empty())
        entries.push_back(current);
    return entries;
}

bool FakeHost::QueryMajorVersion(bool extendedRecord, unsigned& major) {
    versionQueries.push_back(extendedRecord ? "extended" : "plain");
    if (!versionAvailable || (extendedRecord && extendedVersionFails))
        return false;
    major = majorVersion;
    return true;
}

bool FakeHost::GetFullPathName(const wchar_t* path, std::wstring& fullPath, size_t& sizingLength) {
    auto failure = fullPathErrors.find(path);
    if (failure != fullPathErrors.end()) {
        lastError = failure->second;
        return false;
    }
    auto found = fullPaths.find(path);
    fullPath = found == fullPaths.end() ? std::wstring(path) : found->second;
    sizingLength = fullPath.size();
    return true;
}

bool FakeHost::PathExists(const wchar_t* path) {
    for (const std::wstring& missing : missingPaths) {
        if (missing == path) {
            lastError = 2;  // ERROR_FILE_NOT_FOUND
            return false;
        }
    }
    return true;
}

bool FakeHost::GetVolumePathName(const wchar_t* path, wchar_t* buffer, DWORD bufferLength) {
    if (recording)
        volumeLookups.push_back(path);
    if (openLookupSessions > 0)
        ++lookupsInSessions;
    const std::wstring text = path;
    const std::wstring* best = nullptr;
    for (const auto& entry : volumeRoots) {
        if (text.compare(0, entry.first.size(), entry.first) == 0 &&
            (best == nullptr || entry.first.size() > best->size()))
            best = &entry.first;
    }
    if (best == nullptr) {
        lastError = volumeError;
        return false;
    }
    const std::wstring& root = volumeRoots[*best];
    if (root.size() + 1 > bufferLength) {
        lastError = 206;
        return false;
    }
    std::wmemcpy(buffer, root.c_str(), root.size() + 1);
    return true;
}

HRESULT FakeHost::InitializeComSecurity() {
    ++comSecurityCalls;
    return comSecurityResult;
}

bool FakeHost::OpenProcessToken(void*& token) {
    tokenCalls.push_back("OpenProcessToken");
    if (!tokenOpens) {
        lastError = tokenOpenError;
        return false;
    }
    ++openTokens;
    token = this;
    return true;
}

bool FakeHost::LookupPrivilegeValue(const wchar_t* name, uint64_t& luid) {
    tokenCalls.push_back("LookupPrivilegeValue");
    auto found = privileges.find(name);
    if (found == privileges.end()) {
        lastError = lookupError;
        return false;
    }
    luid = found->second;
    return true;
}

bool FakeHost::AdjustTokenPrivilege(void*, uint64_t luid, DWORD attributes) {
    tokenCalls.push_back("AdjustTokenPrivileges(" + std::to_string(luid) + "," +
                         std::to_string(attributes) + ")");
    lastError = adjustLastError;
    return adjustSucceeds;
}

void FakeHost::CloseToken(void*) {
    tokenCalls.push_back("CloseToken");
    --openTokens;
}

Host::KeyOpen FakeHost::OpenVolumeClassKey(void*& key) {
    registryCalls.push_back("Open");
    if (keyOpen == KeyOpen::kOpened) {
        ++openKeys;
        key = this;
    }
    return keyOpen;
}

long FakeHost::QueryRegistryValue(void*, const wchar_t* name, uint32_t& type, uint8_t* data,
                                  uint32_t& size) {
    registryCalls.push_back("Query(" + std::to_string(size) + ")");
    if (std::wcscmp(name, L"UpperFilters") != 0 || !filterValuePresent)
        return 2;
    type = filterValueType;
    const uint32_t needed = static_cast<uint32_t>(filterValue.size());
    if (needed > size) {
        size = needed;
        return 234;  // ERROR_MORE_DATA
    }
    if (needed > 0)
        std::memcpy(data, filterValue.data(), needed);
    size = needed;
    return 0;
}

long FakeHost::SetRegistryValue(void*, const wchar_t* name, uint32_t type, const uint8_t* data,
                                uint32_t size) {
    registryCalls.push_back("Set(" + std::to_string(type) + "," + std::to_string(size) + ")");
    if (setValueResult != 0 || std::wcscmp(name, L"UpperFilters") != 0)
        return setValueResult;
    filterValuePresent = true;
    filterValueType = type;
    filterValue.assign(data, data + size);
    return 0;
}

void FakeHost::CloseKey(void*) {
    registryCalls.push_back("Close");
    --openKeys;
}

bool FakeHost::WriteFile(HANDLE handle, const void* data, uint32_t size) {
    if (consoleFails) {
        lastError = consoleError;
        return false;
    }
    consoleWriteSizes.push_back(size);
    consoleBytes[handle].append(static_cast<const char*>(data), size);
    return true;
}

bool FakeHost::SystemMessage(uint32_t code, std::wstring& message) {
    auto found = systemMessages.find(code);
    if (found == systemMessages.end())
        return false;
    message = found->second;
    return true;
}

size_t FakeHost::WideToOem(const wchar_t* text, size_t units, char* out, size_t capacity) {
    if (units == 0 || units > capacity)
        return 0;
    for (size_t i = 0; i < units; ++i) {
        const uint32_t c = static_cast<uint32_t>(text[i]);
        out[i] = c < 0x80 ? static_cast<char>(c) : '?';
    }
    return units;
}

size_t FakeHost::AnsiToWide(const char* text, size_t bytes, wchar_t* out, size_t capacity) {
    const size_t n = bytes < capacity ? bytes : capacity;
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    return n;
}

}  // namespace testing
}  // namespace quorlin
