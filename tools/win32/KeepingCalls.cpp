#include "win32/KeepingCalls.h"

namespace qtool {

namespace {

KeepingCalls* inUse = nullptr;

}  // namespace

DWORD KeepingCalls::GetFileAttributesW(const wchar_t* path) { return ::GetFileAttributesW(path); }

HANDLE KeepingCalls::CreateFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                                 DWORD flags) {
    return ::CreateFileW(path, access, share, nullptr, disposition, flags, nullptr);
}

BOOL KeepingCalls::GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind,
                                                void* buffer, DWORD size) {
    return ::GetFileInformationByHandleEx(file, kind, buffer, size);
}

BOOL KeepingCalls::DeviceIoControl(HANDLE file, DWORD code, void* in, DWORD inSize, void* out,
                                   DWORD outSize, DWORD* returned) {
    return ::DeviceIoControl(file, code, in, inSize, out, outSize, returned, nullptr);
}

BOOL KeepingCalls::GetKernelObjectSecurity(HANDLE file, SECURITY_INFORMATION information,
                                           PSECURITY_DESCRIPTOR descriptor, DWORD size,
                                           DWORD* needed) {
    return ::GetKernelObjectSecurity(file, information, descriptor, size, needed);
}

BOOL KeepingCalls::SetKernelObjectSecurity(HANDLE file, SECURITY_INFORMATION information,
                                           PSECURITY_DESCRIPTOR descriptor) {
    return ::SetKernelObjectSecurity(file, information, descriptor);
}

DWORD KeepingCalls::OpenEncryptedFileRawW(const wchar_t* path, ULONG flags, void** context) {
    return ::OpenEncryptedFileRawW(path, flags, context);
}

DWORD KeepingCalls::ReadEncryptedFileRaw(PFE_EXPORT_FUNC feed, void* pipe, void* context) {
    return ::ReadEncryptedFileRaw(feed, pipe, context);
}

DWORD KeepingCalls::WriteEncryptedFileRaw(PFE_IMPORT_FUNC drain, void* pipe, void* context) {
    return ::WriteEncryptedFileRaw(drain, pipe, context);
}

void KeepingCalls::CloseEncryptedFileRaw(void* context) { ::CloseEncryptedFileRaw(context); }

KeepingCalls& KeepingCallsInUse() {
    static KeepingCalls system;
    return inUse != nullptr ? *inUse : system;
}

UsingKeepingCalls::UsingKeepingCalls(KeepingCalls& calls) : earlier_(inUse) { inUse = &calls; }

UsingKeepingCalls::~UsingKeepingCalls() { inUse = earlier_; }

}  // namespace qtool
