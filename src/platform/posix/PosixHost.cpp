// The host seam on POSIX: the stand-ins for the Windows facilities.
#include "platform/Platform.h"

#include "platform/posix/LookupSession.h"
#include "platform/posix/PathResolution.h"
#include "platform/posix/Utf8.h"
#include "platform/posix/VolumeLookup.h"
#include "platform/posix/WriteWithoutPipeSignal.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <linux/capability.h>
#include <memory>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace quorlin {

namespace {

const uint32_t kErrorNotAllAssigned = 1300;  // the privilege is not held
const size_t kHugePageBytes = 2u << 20;
const uint64_t kBackupPrivilege = CAP_DAC_READ_SEARCH;

bool GetCapabilities(__user_cap_header_struct& header, __user_cap_data_struct (&data)[2]) {
    header.version = _LINUX_CAPABILITY_VERSION_3;
    header.pid = 0;
    return syscall(SYS_capget, &header, data) == 0;
}

// True when `error` is 0; else false with errno set to it.
bool Succeeded(int error) {
    if (error != 0)
        errno = error;
    return error == 0;
}

int VolumeRootOf(const std::string& path, std::string& root) {
    std::string resolved;
    const int error = ResolvePath(path, resolved);
    return error != 0 ? error : LookupVolumeRoot(resolved, root);
}

// The lookup session of the calling thread, while one is open.
struct LookupSessions {
    std::unique_ptr<LookupSession> session;
    int depth = 0;
};
thread_local LookupSessions t_lookups;

class PosixHost : public Host {
public:
    // Version, processor and R2 facts do not apply: the platform check answers 0.
    bool QueryMajorVersion(bool, unsigned&) override {
        errno = ENOSYS;
        return false;
    }
    uint16_t NativeProcessorArchitecture() override { return 0; }
    int SystemMetric(int) override { return 0; }

    // Names go to and from the file system as their very bytes (Utf8.h), or not at all
    // (EILSEQ for wide text that names no bytes).
    // The room for a snapshot path does not depend on the path here (see below).
    bool GetFullPathName(const wchar_t* path, std::wstring& fullPath,
                         size_t& sizingLength) override {
        std::string bytes;
        std::string resolved;
        int error = ToUtf8Exact(path, std::wcslen(path), bytes);
        if (error == 0)
            error = t_lookups.session ? t_lookups.session->Resolve(bytes, resolved)
                                      : ResolvePath(bytes, resolved);
        if (error == 0)
            fullPath = FromUtf8(resolved);
        sizingLength = fullPath.size();
        return Succeeded(error);
    }

    bool PathExists(const wchar_t* path) override {
        std::string bytes;
        int error = ToUtf8Exact(path, std::wcslen(path), bytes);
        struct stat st;
        if (error == 0 && ::stat(bytes.c_str(), &st) != 0)
            error = errno;
        return Succeeded(error);
    }

    bool GetVolumePathName(const wchar_t* path, wchar_t* buffer, DWORD bufferLength) override {
        std::string bytes;
        std::string root;
        std::wstring wide;
        int error = ToUtf8Exact(path, std::wcslen(path), bytes);
        if (error == 0)
            error = t_lookups.session ? t_lookups.session->VolumeRoot(bytes, root)
                                      : VolumeRootOf(bytes, root);
        if (error == 0)
            wide = FromUtf8(root);
        if (error == 0 && wide.size() + 1 > bufferLength)
            error = ENAMETOOLONG;
        if (error == 0)
            std::wmemcpy(buffer, wide.c_str(), wide.size() + 1);
        return Succeeded(error);
    }

    // One session per thread, for the outermost pair.
    void BeginVolumeLookups() override {
        if (t_lookups.depth == 0)
            t_lookups.session.reset(new LookupSession);
        ++t_lookups.depth;
    }
    void EndVolumeLookups() override {
        if (t_lookups.depth > 0 && --t_lookups.depth == 0)
            t_lookups.session.reset();
    }

    // Transparent huge pages for the whole pages of a block of 2 MB or more: a page fault
    // each 2 MB instead of each 4 KB (the kernel may refuse; nothing depends on it).
    void AdviseBulkWrite(void* address, size_t bytes) override {
        const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
        const uintptr_t start = (reinterpret_cast<uintptr_t>(address) + page - 1) & ~(page - 1);
        const uintptr_t end = (reinterpret_cast<uintptr_t>(address) + bytes) & ~(page - 1);
        if (bytes >= kHugePageBytes && end > start)
            ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
    }

    // No COM on POSIX: nothing to set.
    HRESULT InitializeComSecurity() override { return S_OK; }

    // The process's capabilities stand for its token; SeBackupPrivilege for CAP_DAC_READ_SEARCH.
    bool OpenProcessToken(void*& token) override {
        token = this;
        return true;
    }
    bool LookupPrivilegeValue(const wchar_t* name, uint64_t& luid) override {
        if (std::wcscmp(name, L"SeBackupPrivilege") != 0) {
            errno = EINVAL;
            return false;
        }
        luid = kBackupPrivilege;
        return true;
    }
    bool AdjustTokenPrivilege(void*, uint64_t luid, DWORD attributes) override {
        __user_cap_header_struct header;
        __user_cap_data_struct data[2];
        if (!GetCapabilities(header, data))
            return false;
        const unsigned word = static_cast<unsigned>(luid / 32);
        const uint32_t bit = 1u << (luid % 32);
        if ((data[word].permitted & bit) == 0) {
            errno = static_cast<int>(kErrorNotAllAssigned);
            return true;  // the call succeeds; the code says the privilege is not held
        }
        if ((attributes & 0x2) != 0 && (data[word].effective & bit) == 0) {
            data[word].effective |= bit;
            if (syscall(SYS_capset, &header, data) != 0)
                return false;
        }
        errno = 0;
        return true;
    }
    void CloseToken(void*) override {}

    // There is no volume filter list on Linux.
    KeyOpen OpenVolumeClassKey(void*&) override { return KeyOpen::kNotApplicable; }
    long QueryRegistryValue(void*, const wchar_t*, uint32_t&, uint8_t*, uint32_t&) override {
        return ENOENT;
    }
    long SetRegistryValue(void*, const wchar_t*, uint32_t, const uint8_t*, uint32_t) override {
        return ENOSYS;
    }
    void CloseKey(void*) override {}

    // No debugger service: the console copy is the observable one.
    void OutputDebugText(const wchar_t*) override {}

    // The whole text, as a synchronous WriteFile to a console writes it: a signal or a
    // short write does not cut the line. A pipe or socket whose reader has gone fails the
    // write with EPIPE, as Windows fails it, instead of ending the host with SIGPIPE.
    bool WriteFile(HANDLE handle, const void* data, uint32_t size) override {
        const int fd = static_cast<int>(reinterpret_cast<intptr_t>(handle));
        return WriteWithoutPipeSignal(fd, data, size) >= 0;
    }

    // In the stream's own orientation: a wide-oriented standard output takes no bytes.
    void WriteStandardOutput(const wchar_t* text) override {
        if (std::fwide(stdout, 0) > 0) {
            std::fputws(text, stdout);
        } else {
            const std::string bytes = ToUtf8(text, std::wcslen(text));
            std::fputs(bytes.c_str(), stdout);
        }
        std::fflush(stdout);
    }

    // The C library's message for the errno value.
    bool SystemMessage(uint32_t code, std::wstring& message) override {
        if (code > 0x7FFFFFFFu)
            return false;
        const char* text = strerrordesc_np(static_cast<int>(code));
        if (text == nullptr)
            return false;
        message = FromUtf8(text, std::strlen(text));
        return true;
    }

    // OEM stand-in: one byte per unit, ASCII kept, everything else '?'.
    size_t WideToOem(const wchar_t* text, size_t units, char* out, size_t capacity) override {
        if (units == 0 || units > capacity)
            return 0;
        for (size_t i = 0; i < units; ++i) {
            const uint32_t c = static_cast<uint32_t>(text[i]);
            out[i] = c < 0x80 ? static_cast<char>(c) : '?';
        }
        return units;
    }

    // ANSI stand-in: UTF-8.
    size_t AnsiToWide(const char* text, size_t bytes, wchar_t* out, size_t capacity) override {
        const std::wstring wide = FromUtf8(text, bytes);
        if (wide.size() > capacity)
            return 0;
        std::wmemcpy(out, wide.data(), wide.size());
        return wide.size();
    }

    uint32_t GetLastError() override { return static_cast<uint32_t>(errno); }
    void SetLastError(uint32_t code) override { errno = static_cast<int>(code); }
};

}  // namespace

Host& PlatformHost() {
    static PosixHost host;
    return host;
}

wchar_t PlatformPathSeparator() { return L'/'; }

// A resolved path is shorter than PATH_MAX bytes of UTF-8, so shorter than PATH_MAX units.
DWORD PlatformVolumeRootRoom() { return PATH_MAX; }

// The device name and the resolved path are each shorter than PATH_MAX.
size_t PlatformSnapshotPathRoom(size_t) { return 8192; }

}  // namespace quorlin
