// The calls by which the Windows copy learns what a file holds besides its content, and
// keeps it: its attributes, its alternate data streams, its holes, its compression, its
// security descriptor and, for an encrypted file, its raw form. Each answers as the
// Win32 function it is named after. The copy makes them through KeepingCallsInUse():
// the system's own, unless another set has been put in place (a test's, which tells of
// files that Wine cannot make).
#ifndef QUORLIN_TOOL_WIN32_KEEPING_CALLS_H
#define QUORLIN_TOOL_WIN32_KEEPING_CALLS_H

#include <windows.h>

namespace qtool {

class KeepingCalls {
public:
    virtual ~KeepingCalls() = default;

    virtual DWORD GetFileAttributesW(const wchar_t* path);
    virtual HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                               DWORD flags);
    // Asked for FileStreamInfo only.
    virtual BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind,
                                              void* buffer, DWORD size);
    // FSCTL_SET_SPARSE, FSCTL_QUERY_ALLOCATED_RANGES and FSCTL_SET_COMPRESSION.
    virtual BOOL DeviceIoControl(HANDLE file, DWORD code, void* in, DWORD inSize, void* out,
                                 DWORD outSize, DWORD* returned);
    virtual BOOL GetKernelObjectSecurity(HANDLE file, SECURITY_INFORMATION information,
                                         PSECURITY_DESCRIPTOR descriptor, DWORD size,
                                         DWORD* needed);
    virtual BOOL SetKernelObjectSecurity(HANDLE file, SECURITY_INFORMATION information,
                                         PSECURITY_DESCRIPTOR descriptor);
    virtual DWORD OpenEncryptedFileRawW(const wchar_t* path, ULONG flags, void** context);
    virtual DWORD ReadEncryptedFileRaw(PFE_EXPORT_FUNC feed, void* pipe, void* context);
    virtual DWORD WriteEncryptedFileRaw(PFE_IMPORT_FUNC drain, void* pipe, void* context);
    virtual void CloseEncryptedFileRaw(void* context);
};

// The calls that copies make now.
KeepingCalls& KeepingCallsInUse();

// Puts `calls` in place of those in use for as long as it lives.
class UsingKeepingCalls {
public:
    explicit UsingKeepingCalls(KeepingCalls& calls);
    ~UsingKeepingCalls();
    UsingKeepingCalls(const UsingKeepingCalls&) = delete;
    UsingKeepingCalls& operator=(const UsingKeepingCalls&) = delete;

private:
    KeepingCalls* earlier_;
};

}  // namespace qtool

#endif  // QUORLIN_TOOL_WIN32_KEEPING_CALLS_H
