#include "FileSystem.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <vector>
#include <windows.h>

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

std::string ErrorText(DWORD error) {
    std::string text = std::system_category().message(static_cast<int>(error));
    while (!text.empty() &&
           (text.back() == '\n' || text.back() == '\r' || text.back() == '.' || text.back() == ' '))
        text.pop_back();
    return text;
}

[[noreturn]] void Fail(CopyError::Side side, const std::string& action) {
    throw CopyError(side, action, ErrorText(GetLastError()));
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

// Reparse points (links, junctions, mount points) are not followed.
Entry EntryOf(const fs::path& name, DWORD attributes, DWORD sizeHigh, DWORD sizeLow) {
    Entry entry;
    entry.name = name;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        entry.kind = EntryKind::kOther;
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        entry.kind = EntryKind::kFolder;
    } else {
        entry.kind = EntryKind::kFile;
        entry.size = (static_cast<std::uint64_t>(sizeHigh) << 32) | sizeLow;
    }
    return entry;
}

// Opens an entry itself, a folder or a reparse point included.
HANDLE OpenEntry(const fs::path& path, DWORD access) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (Valid())
            CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

// The entries of the folder `path`, without "." and "..".
std::vector<Entry> EntriesIn(const fs::path& path, CopyError::Side side) {
    std::vector<Entry> entries;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW((path / L"*").c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        Fail(side, "list");
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            entries.push_back(
                EntryOf(name, found.dwFileAttributes, found.nFileSizeHigh, found.nFileSizeLow));
    } while (FindNextFileW(search, &found));
    DWORD error = GetLastError();
    FindClose(search);
    if (error != ERROR_NO_MORE_FILES) {
        SetLastError(error);
        Fail(side, "list");
    }
    return entries;
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

// Gives `to` the times and attributes of `from`; neither is followed.
void CopyTimesAndAttributes(const fs::path& from, const fs::path& to, Losses& losses) {
    DWORD attributes = GetFileAttributesW(from.c_str());
    FILETIME created, accessed, modified;
    Handle source(OpenEntry(from, FILE_READ_ATTRIBUTES));
    if (attributes == INVALID_FILE_ATTRIBUTES || !source.Valid() ||
        !GetFileTime(source.Get(), &created, &accessed, &modified))
        Fail(CopyError::kSource, "read");
    {
        // The times first: a read-only file refuses them.
        Handle target(OpenEntry(to, FILE_WRITE_ATTRIBUTES));
        if (!target.Valid() || !SetFileTime(target.Get(), &created, &accessed, &modified))
            losses.push_back({"the times", ErrorText(GetLastError())});
    }
    DWORD current = GetFileAttributesW(to.c_str());
    DWORD kept = (current & ~kKeptAttributes) | (attributes & kKeptAttributes);
    if (current == INVALID_FILE_ATTRIBUTES ||
        !SetFileAttributesW(to.c_str(), kept == 0 ? FILE_ATTRIBUTE_NORMAL : kept))
        losses.push_back({"the attributes", ErrorText(GetLastError())});
}

// Copies the content of `in` to `out`, piece by piece.
void CopyContent(HANDLE in, HANDLE out, const ByteCounter& counter) {
    std::vector<char> buffer(kPiece);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(in, buffer.data(), kPiece, &got, nullptr))
            Fail(CopyError::kSource, "read");
        if (got == 0)
            return;
        DWORD put = 0;
        if (!WriteFile(out, buffer.data(), got, &put, nullptr) || put != got)
            Fail(CopyError::kTarget, "write");
        counter(got);
    }
}

// A file made under a temporary name in a folder, removed again unless it is put in
// place.
class TemporaryFile {
public:
    explicit TemporaryFile(const fs::path& folder) : handle_(INVALID_HANDLE_VALUE) {
        for (;;) {
            path_ = folder / TemporaryName();
            handle_ =
                CreateFileW(path_.c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
            if (handle_ != INVALID_HANDLE_VALUE)
                return;
            if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
                path_.clear();
                Fail(CopyError::kTarget, "write");
            }
        }
    }
    ~TemporaryFile() {
        Close();
        if (!path_.empty()) {
            SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path_.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    HANDLE Get() const { return handle_; }
    const fs::path& Path() const { return path_; }
    void Close() {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
    // Puts the file in place of `target`, replacing what is there (a reparse point itself,
    // never its target).
    void Publish(const fs::path& target) {
        DWORD existing = GetFileAttributesW(target.c_str());
        if (existing != INVALID_FILE_ATTRIBUTES) {
            if (existing & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(target);
            else if (existing & FILE_ATTRIBUTE_READONLY)
                SetFileAttributesW(target.c_str(), existing & ~FILE_ATTRIBUTE_READONLY);
        }
        if (!MoveFileExW(path_.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
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
    HANDLE handle_;
};

}  // namespace

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
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(full.c_str(), GetFileExInfoStandard, &data))
        Fail(CopyError::kSource, "read");
    root = EntryOf(name, data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow);
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
    Handle in(CreateFileW(
        source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!in.Valid())
        Fail(CopyError::kSource, "read");
    TemporaryFile copy(state_->path);
    CopyContent(in.Get(), copy.Get(), counter);
    // Windows keeps no hard links or holes here, and a name that stays: every file is
    // made durable before it replaces an earlier copy.
    if (!FlushFileBuffers(copy.Get()))
        Fail(CopyError::kTarget, "write");
    copy.Close();
    CopyTimesAndAttributes(source, copy.Path(), losses);
    copy.Publish(state_->Child(name));
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
    CopyTimesAndAttributes(source.Native().path, state_->path, losses);
}

void TargetFolder::Sync() {}

}  // namespace qtool
