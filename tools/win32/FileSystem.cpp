#include "FileSystem.h"

#include "Text.h"
#include "win32/EntryKinds.h"
#include "win32/KeepingCalls.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>
#include <windows.h>
#include <winioctl.h>

namespace fs = std::filesystem;

namespace qtool {

struct SourceFolder::State {
    fs::path path;
    // The entry `name` of this folder; an empty name is the folder itself (a volume root).
    fs::path Child(const fs::path& name) const { return name.empty() ? path : path / name; }
};

struct TargetFolder::State {
    fs::path path;
    fs::path Child(const fs::path& name) const { return name.empty() ? path : path / name; }
};

namespace {

// The attributes that a copy keeps.
const DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                              FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                              FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
const DWORD kPiece = 1 << 20;
// What a copy is opened for when its content is not to be touched.
const DWORD kMetadataAccess =
    READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Owner, group and permissions; the audit entries (SACL) where the process may read them.
const SECURITY_INFORMATION kSecurity =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

[[noreturn]] void Fail(CopyError::Side side, const std::string& action) {
    throw CopyError(side, action, ErrorText(GetLastError()));
}

// A source entry that could not be opened or listed: refused, or a failed read.
[[noreturn]] void FailOnSource(const std::string& action) {
    DWORD error = GetLastError();
    if (RefusesEntry(error))
        throw EntryRefused(action, ErrorText(error));
    Fail(CopyError::kSource, action);
}

// `path` absolute, in the \\?\ form that lifts the length limit of paths.
fs::path Extended(const fs::path& path) {
    std::wstring text = path.wstring();
    std::replace(text.begin(), text.end(), L'/', L'\\');
    if (text.rfind(L"\\\\?\\", 0) == 0 || text.rfind(L"\\\\.\\", 0) == 0)
        return text;
    DWORD size = GetFullPathNameW(text.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    size = GetFullPathNameW(text.c_str(), size, &full[0], nullptr);
    if (size == 0)
        return text;
    full.resize(size);
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// The privileges that let the copy read what ACLs shut out (backup), write owners and
// ACLs that are not its own (restore) and read and write audit entries (security).
// An administrator holds them, disabled; whatever is not held shows as a loss.
void EnableCopyPrivileges() {
    static std::once_flag once;
    std::call_once(once, [] {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
            return;
        for (const wchar_t* name :
             {L"SeBackupPrivilege", L"SeRestorePrivilege", L"SeSecurityPrivilege"}) {
            TOKEN_PRIVILEGES privileges = {};
            privileges.PrivilegeCount = 1;
            privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
            if (LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid))
                AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
        }
        CloseHandle(token);
    });
}

class Handle {
public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    ~Handle() { Reset(INVALID_HANDLE_VALUE); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    void Reset(HANDLE handle) {
        if (Valid())
            CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_;
};

// An entry opened with backup semantics (a folder too; with the backup privilege, past
// what its ACL refuses), and whether its audit entries may be read or written through it.
struct Opened {
    Handle handle;
    bool audit = true;
    DWORD auditError = ERROR_SUCCESS;  // why not
};

// Opens `path` for `access`, its audit entries too where the process may.
void OpenWithAudit(Opened& opened, const fs::path& path, DWORD access, DWORD disposition,
                   DWORD flags, DWORD share = kShareAll) {
    flags |= FILE_FLAG_BACKUP_SEMANTICS;
    KeepingCalls& calls = KeepingCallsInUse();
    opened.handle.Reset(calls.CreateFileW(path.c_str(), access | ACCESS_SYSTEM_SECURITY, share,
                                          disposition, flags));
    if (opened.handle.Valid() || GetLastError() != ERROR_PRIVILEGE_NOT_HELD)
        return;
    opened.audit = false;
    opened.auditError = ERROR_PRIVILEGE_NOT_HELD;
    opened.handle.Reset(calls.CreateFileW(path.c_str(), access, share, disposition, flags));
}

// The entry `name` (empty for a volume's root) at `path`, a reparse point itself.
Entry EntryAt(const fs::path& path, const fs::path& name) {
    Handle entry(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    FILE_STANDARD_INFO standard = {};
    if (!entry.Valid() ||
        !GetFileInformationByHandleEx(entry.Get(), FileAttributeTagInfo, &tag, sizeof tag) ||
        !GetFileInformationByHandleEx(entry.Get(), FileStandardInfo, &standard, sizeof standard))
        FailOnSource("read");
    Entry found;
    found.name = name;
    found.kind = EntryKindOf(tag.FileAttributes, tag.ReparseTag);
    if (found.kind == EntryKind::kFile)
        found.size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
    return found;
}

// The entries of the folder `path`, without "." and "..". A source folder is listed with
// backup semantics; a destination folder that is a reparse point is not followed.
std::vector<Entry> EntriesIn(const fs::path& path, CopyError::Side side) {
    Handle folder(CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE, kShareAll, nullptr,
                              OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS |
                                  (side == CopyError::kTarget ? FILE_FLAG_OPEN_REPARSE_POINT : 0),
                              nullptr));
    if (!folder.Valid())
        side == CopyError::kSource ? FailOnSource("list") : Fail(side, "list");
    std::vector<Entry> entries;
    std::vector<LONGLONG> buffer(8192);  // aligned as the records are
    FILE_INFO_BY_HANDLE_CLASS kind = FileFullDirectoryRestartInfo;
    for (;;) {
        if (!GetFileInformationByHandleEx(folder.Get(), kind, buffer.data(),
                                          static_cast<DWORD>(buffer.size() * sizeof(LONGLONG)))) {
            if (GetLastError() == ERROR_NO_MORE_FILES)
                return entries;
            side == CopyError::kSource ? FailOnSource("list") : Fail(side, "list");
        }
        kind = FileFullDirectoryInfo;
        const char* at = reinterpret_cast<const char*>(buffer.data());
        for (;;) {
            const auto* record = reinterpret_cast<const FILE_FULL_DIR_INFO*>(at);
            std::wstring name(record->FileName, record->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") {
                Entry entry;
                entry.name = name;
                // For a reparse point, the field of the extended attributes' size holds
                // its tag.
                entry.kind = EntryKindOf(record->FileAttributes, record->EaSize);
                if (entry.kind == EntryKind::kFile)
                    entry.size = static_cast<std::uint64_t>(record->EndOfFile.QuadPart);
                entries.push_back(entry);
            }
            if (record->NextEntryOffset == 0)
                break;
            at += record->NextEntryOffset;
        }
    }
}

// Removes the entry at `path` with everything in it; a reparse point goes itself, its
// target stays.
void RemoveTree(const fs::path& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    bool removed;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        for (const Entry& entry : EntriesIn(path, CopyError::kTarget))
            RemoveTree(path / entry.name);
        removed = RemoveDirectoryW(path.c_str());
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        removed = RemoveDirectoryW(path.c_str());
    } else {
        removed = DeleteFileW(path.c_str());
    }
    if (!removed)
        Fail(CopyError::kTarget, "replace");
}

// The security descriptor of `in` as `information` asks, in a buffer of its own size.
bool ReadSecurity(HANDLE in, SECURITY_INFORMATION information, std::vector<char>& descriptor) {
    descriptor.resize(512);
    DWORD needed = 0;
    while (!KeepingCallsInUse().GetKernelObjectSecurity(
        in, information, descriptor.data(), static_cast<DWORD>(descriptor.size()), &needed)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= descriptor.size())
            return false;
        descriptor.resize(needed);
    }
    return true;
}

// Gives `out` the times, the attributes and the security descriptor (owner, group, DACL
// and where both handles allow, the SACL) of `in`, as they are, inherited entries
// included. The descriptor goes last: it may shut this process out of the copy, whose
// handle keeps the access it was opened with.
void CopyMetadata(const Opened& in, const Opened& out, Losses& losses) {
    FILE_BASIC_INFO from = {};
    FILE_BASIC_INFO to = {};
    if (!GetFileInformationByHandleEx(in.handle.Get(), FileBasicInfo, &from, sizeof from))
        Fail(CopyError::kSource, "read");
    if (!GetFileInformationByHandleEx(out.handle.Get(), FileBasicInfo, &to, sizeof to)) {
        losses.push_back({"the times and attributes", ErrorText(GetLastError())});
    } else {
        DWORD kept =
            (to.FileAttributes & ~kKeptAttributes) | (from.FileAttributes & kKeptAttributes);
        to.FileAttributes = kept == 0 ? FILE_ATTRIBUTE_NORMAL : kept;
        to.CreationTime = from.CreationTime;
        to.LastAccessTime = from.LastAccessTime;
        to.LastWriteTime = from.LastWriteTime;
        to.ChangeTime.QuadPart = 0;  // the file system's own
        if (!SetFileInformationByHandle(out.handle.Get(), FileBasicInfo, &to, sizeof to))
            losses.push_back({"the times and attributes", ErrorText(GetLastError())});
    }
    SECURITY_INFORMATION information = kSecurity;
    if (in.audit && out.audit)
        information |= SACL_SECURITY_INFORMATION;
    else
        losses.push_back(
            {"the audit entries (SACL)", ErrorText(in.audit ? out.auditError : in.auditError)});
    std::vector<char> descriptor;
    if (!ReadSecurity(in.handle.Get(), information, descriptor)) {
        if (!KeepsNone(GetLastError()))
            losses.push_back({"the owner and permissions", ErrorText(GetLastError())});
        return;
    }
    if (!KeepingCallsInUse().SetKernelObjectSecurity(out.handle.Get(), information,
                                                     descriptor.data()))
        losses.push_back({"the owner and permissions", ErrorText(GetLastError())});
}

// Makes `out` compressed as `attributes` say: before its content, which is then
// compressed as it is written.
void KeepCompression(DWORD attributes, HANDLE out, Losses& losses) {
    if (!(attributes & FILE_ATTRIBUTE_COMPRESSED))
        return;
    USHORT format = COMPRESSION_FORMAT_DEFAULT;
    DWORD returned = 0;
    if (!KeepingCallsInUse().DeviceIoControl(out, FSCTL_SET_COMPRESSION, &format, sizeof format,
                                             nullptr, 0, &returned))
        losses.push_back({"the compression", ErrorText(GetLastError())});
}

// Copies the content of `in` to `out` from where each stands, piece by piece: `length`
// bytes, or to the end.
void CopyContent(HANDLE in, HANDLE out, const ByteCounter& counter,
                 std::uint64_t length = ~std::uint64_t(0)) {
    std::vector<char> buffer(kPiece);
    while (length > 0) {
        DWORD got = 0;
        DWORD asked = static_cast<DWORD>(std::min<std::uint64_t>(kPiece, length));
        if (!ReadFile(in, buffer.data(), asked, &got, nullptr))
            Fail(CopyError::kSource, "read");
        if (got == 0)
            return;
        DWORD put = 0;
        if (!WriteFile(out, buffer.data(), got, &put, nullptr) || put != got)
            Fail(CopyError::kTarget, "write");
        length -= got;
        counter(got);
    }
}

// Copies the content of a sparse file: its allocated ranges only, the holes left as
// holes. Where the file systems do not keep or tell them, the holes are written out.
void CopySparseContent(HANDLE in, HANDLE out, std::uint64_t size, const ByteCounter& counter,
                       Losses& losses) {
    KeepingCalls& calls = KeepingCallsInUse();
    DWORD returned = 0;
    if (!calls.DeviceIoControl(out, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned)) {
        losses.push_back({"the sparseness", ErrorText(GetLastError())});
        return CopyContent(in, out, counter);
    }
    std::vector<FILE_ALLOCATED_RANGE_BUFFER> ranges(256);
    FILE_ALLOCATED_RANGE_BUFFER query = {};
    query.Length.QuadPart = static_cast<LONGLONG>(size);
    for (;;) {
        BOOL all = calls.DeviceIoControl(
            in, FSCTL_QUERY_ALLOCATED_RANGES, &query, sizeof query, ranges.data(),
            static_cast<DWORD>(ranges.size() * sizeof ranges[0]), &returned);
        if (!all && GetLastError() != ERROR_MORE_DATA) {
            if (query.FileOffset.QuadPart != 0)
                Fail(CopyError::kSource, "read");
            losses.push_back({"the holes", ErrorText(GetLastError())});
            return CopyContent(in, out, counter);
        }
        DWORD count = returned / sizeof ranges[0];
        for (DWORD i = 0; i < count; ++i) {
            if (!SetFilePointerEx(in, ranges[i].FileOffset, nullptr, FILE_BEGIN))
                Fail(CopyError::kSource, "read");
            if (!SetFilePointerEx(out, ranges[i].FileOffset, nullptr, FILE_BEGIN))
                Fail(CopyError::kTarget, "write");
            CopyContent(in, out, counter, static_cast<std::uint64_t>(ranges[i].Length.QuadPart));
        }
        if (all || count == 0)
            break;
        LONGLONG next = ranges[count - 1].FileOffset.QuadPart + ranges[count - 1].Length.QuadPart;
        query.Length.QuadPart -= next - query.FileOffset.QuadPart;
        query.FileOffset.QuadPart = next;
    }
    FILE_END_OF_FILE_INFO end = {};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFileInformationByHandle(out, FileEndOfFileInfo, &end, sizeof end))
        Fail(CopyError::kTarget, "write");
}

// Copies the alternate data streams of the file `in` at `from` to `to`, each a loss
// where it cannot be read or written.
void CopyStreams(HANDLE in, const fs::path& from, const fs::path& to, Losses& losses) {
    KeepingCalls& calls = KeepingCallsInUse();
    std::vector<LONGLONG> buffer(4096);
    while (!calls.GetFileInformationByHandleEx(
        in, FileStreamInfo, buffer.data(), static_cast<DWORD>(buffer.size() * sizeof(LONGLONG)))) {
        DWORD error = GetLastError();
        if (error == ERROR_MORE_DATA) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        if (error != ERROR_HANDLE_EOF && !KeepsNone(error))
            losses.push_back({"the alternate data streams", ErrorText(error)});
        return;
    }
    const char* at = reinterpret_cast<const char*>(buffer.data());
    for (;;) {
        const auto* record = reinterpret_cast<const FILE_STREAM_INFO*>(at);
        std::wstring name(record->StreamName, record->StreamNameLength / sizeof(wchar_t));
        if (name != L"::$DATA") {
            try {
                Handle stream(calls.CreateFileW(
                    (from.native() + name).c_str(), GENERIC_READ, kShareAll, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN));
                if (!stream.Valid())
                    Fail(CopyError::kSource, "read");
                Handle copy(calls.CreateFileW((to.native() + name).c_str(), GENERIC_WRITE, 0,
                                              CREATE_NEW, FILE_FLAG_BACKUP_SEMANTICS));
                if (!copy.Valid())
                    Fail(CopyError::kTarget, "write");
                CopyContent(stream.Get(), copy.Get(), [](std::uint64_t) {});
            } catch (const CopyError& error) {
                std::wstring shown = name.substr(1, name.rfind(L':') - 1);
                losses.push_back({"the stream " + Utf8FromPath(shown), error.Reason()});
            }
        }
        if (record->NextEntryOffset == 0)
            return;
        at += record->NextEntryOffset;
    }
}

// The export of a raw encrypted file writes each piece into a pipe...
DWORD WINAPI FeedPipe(PBYTE data, PVOID pipe, ULONG length) {
    DWORD put = 0;
    if (!WriteFile(pipe, data, length, &put, nullptr))
        return GetLastError();
    return put == length ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

// ...from which the import reads them, until the export has closed it.
DWORD WINAPI DrainPipe(PBYTE data, PVOID pipe, PULONG length) {
    DWORD got = 0;
    if (!ReadFile(pipe, data, *length, &got, nullptr) && GetLastError() != ERROR_BROKEN_PIPE)
        return GetLastError();
    *length = got;  // none: the export has ended
    return ERROR_SUCCESS;
}

// Copies an encrypted file as it is stored, encrypted for the users it was encrypted
// for, with its streams, to `to`, which the call makes. Its content is never read in
// the clear. The export runs on a thread of its own that feeds the import through a pipe.
void CopyEncrypted(const fs::path& from, const fs::path& to) {
    KeepingCalls& calls = KeepingCallsInUse();
    void* exported = nullptr;
    void* imported = nullptr;
    DWORD error = calls.OpenEncryptedFileRawW(from.c_str(), 0, &exported);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        FailOnSource("read");
    }
    error = calls.OpenEncryptedFileRawW(to.c_str(), CREATE_FOR_IMPORT, &imported);
    if (error != ERROR_SUCCESS) {
        calls.CloseEncryptedFileRaw(exported);
        SetLastError(error);
        Fail(CopyError::kTarget, "write");
    }
    HANDLE reader = nullptr;
    HANDLE writer = nullptr;
    DWORD exportError = ERROR_SUCCESS;
    DWORD importError =
        CreatePipe(&reader, &writer, nullptr, kPiece) ? ERROR_SUCCESS : GetLastError();
    if (importError == ERROR_SUCCESS) {
        std::thread feeder([&] {
            exportError = calls.ReadEncryptedFileRaw(FeedPipe, writer, exported);
            CloseHandle(writer);
        });
        importError = calls.WriteEncryptedFileRaw(DrainPipe, reader, imported);
        CloseHandle(reader);  // an export still writing fails
        feeder.join();
    }
    calls.CloseEncryptedFileRaw(exported);
    calls.CloseEncryptedFileRaw(imported);
    if (exportError != ERROR_SUCCESS) {
        SetLastError(exportError);
        Fail(CopyError::kSource, "read");
    }
    if (importError != ERROR_SUCCESS) {
        SetLastError(importError);
        Fail(CopyError::kTarget, "write");
    }
}

// A file made under a temporary name in a folder, with restore semantics, removed again
// unless it is put in place.
class TemporaryFile {
public:
    // `make`, when given, makes the file at the path it is given, else false.
    explicit TemporaryFile(const fs::path& folder,
                           const std::function<void(const fs::path&)>& make = nullptr) {
        // The content of a file that `make` made is left alone: opening it for its data
        // would need its encryption key.
        const DWORD access = (make ? kMetadataAccess : GENERIC_READ | GENERIC_WRITE) | DELETE |
                             WRITE_DAC | WRITE_OWNER;
        for (;;) {
            path_ = folder / TemporaryName();
            if (make) {
                try {
                    make(path_);
                } catch (...) {
                    DeleteFileW(path_.c_str());
                    throw;
                }
                OpenWithAudit(opened_, path_, access, OPEN_EXISTING, 0, 0);
            } else {
                OpenWithAudit(opened_, path_, access, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, 0);
            }
            if (opened_.handle.Valid())
                return;
            DWORD error = GetLastError();
            if (make || (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)) {
                if (make)
                    DeleteFileW(path_.c_str());
                path_.clear();
                SetLastError(error);
                Fail(CopyError::kTarget, "write");
            }
        }
    }
    ~TemporaryFile() {
        if (!path_.empty()) {
            FILE_DISPOSITION_INFO remove = {TRUE};
            FILE_BASIC_INFO writable = {};
            writable.FileAttributes = FILE_ATTRIBUTE_NORMAL;
            SetFileInformationByHandle(opened_.handle.Get(), FileBasicInfo, &writable,
                                       sizeof writable);
            SetFileInformationByHandle(opened_.handle.Get(), FileDispositionInfo, &remove,
                                       sizeof remove);
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const Opened& Get() const { return opened_; }
    const fs::path& Path() const { return path_; }
    // Puts the file in place of `target`, replacing what is there (a reparse point itself,
    // never its target). The file is renamed through its handle, whose access its own
    // security descriptor no longer limits.
    void Publish(const fs::path& target) {
        DWORD existing = GetFileAttributesW(target.c_str());
        if (existing != INVALID_FILE_ATTRIBUTES) {
            if (existing & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(target);
            else if (existing & FILE_ATTRIBUTE_READONLY)
                SetFileAttributesW(target.c_str(), existing & ~FILE_ATTRIBUTE_READONLY);
        }
        // The NT form of the \\?\ path.
        std::wstring name = L"\\??\\" + target.native().substr(4);
        std::vector<LONGLONG> buffer(
            (sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t)) / sizeof(LONGLONG) + 1);
        auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        rename->ReplaceIfExists = TRUE;
        rename->RootDirectory = nullptr;
        rename->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
        std::copy(name.begin(), name.end(), rename->FileName);
        if (!SetFileInformationByHandle(opened_.handle.Get(), FileRenameInfo, rename,
                                        static_cast<DWORD>(buffer.size() * sizeof(LONGLONG)))) {
            DWORD error = GetLastError();
            if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY))
                SetFileAttributesW(target.c_str(), existing);
            SetLastError(error);
            Fail(CopyError::kTarget, "replace");
        }
        path_.clear();
    }

private:
    fs::path path_;
    Opened opened_;
};

}  // namespace

EntryKind EntryKindOf(DWORD attributes, DWORD reparseTag) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsReparseTagNameSurrogate(reparseTag))
        return EntryKind::kOther;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::kFolder : EntryKind::kFile;
}

bool RefusesEntry(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
           error == ERROR_CANT_ACCESS_FILE;
}

bool KeepsNone(DWORD error) {
    return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
           error == ERROR_INVALID_PARAMETER;
}

std::string ErrorText(DWORD error) {
    std::string text = std::system_category().message(static_cast<int>(error));
    while (!text.empty() &&
           (text.back() == '\n' || text.back() == '\r' || text.back() == '.' || text.back() == ' '))
        text.pop_back();
    return text;
}

SourceFolder::SourceFolder(std::unique_ptr<State> state) : state_(std::move(state)) {}
SourceFolder::SourceFolder(SourceFolder&&) noexcept = default;
SourceFolder& SourceFolder::operator=(SourceFolder&&) noexcept = default;
SourceFolder::~SourceFolder() = default;

SourceFolder SourceFolder::OpenRoot(const fs::path& path, Entry& root) {
    fs::path full = Extended(path);
    auto state = std::make_unique<State>();
    fs::path name;
    if (full.has_filename()) {
        state->path = full.parent_path();
        name = full.filename();
    } else {
        state->path = full;  // a volume's root
    }
    root = EntryAt(full, name);
    return SourceFolder(std::move(state));
}

std::vector<Entry> SourceFolder::List() const {
    return EntriesIn(state_->path, CopyError::kSource);
}

SourceFolder SourceFolder::Folder(const Entry& entry) const {
    auto state = std::make_unique<State>();
    state->path = state_->Child(entry.name);
    return SourceFolder(std::move(state));
}

TargetFolder::TargetFolder(std::unique_ptr<State> state) : state_(std::move(state)) {}
TargetFolder::TargetFolder(TargetFolder&&) noexcept = default;
TargetFolder& TargetFolder::operator=(TargetFolder&&) noexcept = default;
TargetFolder::~TargetFolder() = default;

TargetFolder TargetFolder::Open(const fs::path& path) {
    EnableCopyPrivileges();
    auto state = std::make_unique<State>();
    state->path = Extended(path);
    DWORD attributes = GetFileAttributesW(state->path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        Fail(CopyError::kTarget, "open");
    return TargetFolder(std::move(state));
}

TargetFolder TargetFolder::MakeFolder(const fs::path& name) {
    auto state = std::make_unique<State>();
    state->path = state_->Child(name);
    DWORD attributes = GetFileAttributesW(state->path.c_str());
    bool folder = attributes != INVALID_FILE_ATTRIBUTES &&
                  (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                  !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (!folder) {
        RemoveTree(state->path);  // a file, or a link or junction, never its target
        if (!CreateDirectoryW(state->path.c_str(), nullptr))
            Fail(CopyError::kTarget, "make the folder");
    }
    return TargetFolder(std::move(state));
}

TargetFolder TargetFolder::OpenFolder(const fs::path& name) const {
    auto state = std::make_unique<State>();
    state->path = state_->Child(name);
    return TargetFolder(std::move(state));
}

TargetFolder::Copied TargetFolder::CopyRegularFile(const fs::path& name, const SourceFolder& from,
                                                   const Entry& entry, const ByteCounter& counter,
                                                   Losses& losses) {
    fs::path source = from.Native().Child(entry.name);
    // Not a name surrogate: a reparse point here holds data, which its filter gives.
    Opened in;
    // An encrypted file is opened for its metadata only: its content, which only the
    // users it was encrypted for may read, is copied raw.
    const DWORD attributes = KeepingCallsInUse().GetFileAttributesW(source.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        FailOnSource("read");
    const bool encrypted = (attributes & FILE_ATTRIBUTE_ENCRYPTED) != 0;
    OpenWithAudit(in, source,
                  encrypted ? READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE : GENERIC_READ,
                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
    if (!in.handle.Valid())
        FailOnSource("read");
    std::optional<TemporaryFile> copy;
    if (encrypted) {
        copy.emplace(state_->path, [&source](const fs::path& to) { CopyEncrypted(source, to); });
        counter(entry.size);
    } else {
        copy.emplace(state_->path);
        HANDLE out = copy->Get().handle.Get();
        KeepCompression(attributes, out, losses);
        if (attributes & FILE_ATTRIBUTE_SPARSE_FILE)
            CopySparseContent(in.handle.Get(), out, entry.size, counter, losses);
        else
            CopyContent(in.handle.Get(), out, counter);
        CopyStreams(in.handle.Get(), source, copy->Path(), losses);
    }
    // Windows keeps no hard links here, and a name that stays: every file is made
    // durable before it replaces an earlier copy (the raw import of an encrypted file
    // writes it through its own handle).
    if (!encrypted && !FlushFileBuffers(copy->Get().handle.Get()))
        Fail(CopyError::kTarget, "write");
    CopyMetadata(in, copy->Get(), losses);
    copy->Publish(state_->Child(name));
    return {FileIdentity(), name};
}

void TargetFolder::CopyLink(const fs::path&, const SourceFolder&, const Entry&, Losses& losses) {
    losses.push_back({"", "links are not copied on Windows"});
}

void TargetFolder::CopySpecial(const fs::path&, const SourceFolder&, const Entry&, Losses& losses) {
    losses.push_back({"", "special files are not copied on Windows"});
}

bool TargetFolder::AddName(const fs::path&, const TargetFolder&, const std::vector<fs::path>&,
                           const FileIdentity&) {
    return false;
}

// Each file replaces its earlier copy as soon as it is flushed.
bool TargetFolder::Waiting() const { return false; }

void TargetFolder::PutInPlace() {}

void TargetFolder::Finish(const SourceFolder& source, Losses& losses) {
    Opened in;
    Opened out;
    OpenWithAudit(in, source.Native().path, READ_CONTROL | FILE_READ_ATTRIBUTES, OPEN_EXISTING, 0);
    if (!in.handle.Valid())
        Fail(CopyError::kSource, "read");
    OpenWithAudit(out, state_->path,
                  FILE_READ_DATA | FILE_WRITE_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES |
                      READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
    if (!out.handle.Valid())
        Fail(CopyError::kTarget, "write");
    FILE_BASIC_INFO basic = {};
    if (!GetFileInformationByHandleEx(in.handle.Get(), FileBasicInfo, &basic, sizeof basic))
        Fail(CopyError::kSource, "read");
    // A compressed folder compresses what is made in it from now on.
    KeepCompression(basic.FileAttributes, out.handle.Get(), losses);
    CopyMetadata(in, out, losses);
}

void TargetFolder::Sync() {}

}  // namespace qtool
