#include "FileSystem.h"

#include "base/posix/UniqueFd.h"
#include "posix/FileContent.h"
#include "posix/FileMetadata.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace qtool {

using quorlin::UniqueFd;

struct SourceFolder::State {
    UniqueFd fd;
    ReadAhead ahead;  // of the entries listed last
};

struct TargetFolder::State {
    UniqueFd fd;
    // Made by this copy: nothing was in it before, so entries go straight to their names.
    bool fresh = false;
    // New entries take a default ACL of this folder; this folder may hold attributes that
    // its original has not (it was there before, or took a default ACL of its parent).
    bool passesAttributes = false;
    bool mayHoldOthers = false;
    // The owner and permissions of a folder that was there before MakeFolder made it
    // private; given back unless Finish gives it those of the original.
    bool restore = false;
    struct stat before = {};
    // Files written under a temporary name beside an earlier copy: (temporary, name).
    std::vector<std::pair<std::string, std::string>> waiting;

    ~State() {
        for (const auto& file : waiting)
            unlinkat(fd.Get(), file.first.c_str(), 0);
        if (restore) {
            (void)!fchown(fd.Get(), before.st_uid, before.st_gid);
            (void)!fchmod(fd.Get(), before.st_mode & 07777);
        }
    }
};

namespace {

// Opens the folder at `path`, following links as a path does, without the length limit
// of one path: a longer one is opened part by part.
UniqueFd OpenFolderPath(const std::string& path) {
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    if (path.size() < PATH_MAX)
        return UniqueFd(open(path.c_str(), flags));
    UniqueFd folder(open(path[0] == '/' ? "/" : ".", flags));
    size_t start = 0;
    while (folder.Valid() && start < path.size()) {
        size_t end = path.rfind('/', std::min(path.size(), start + PATH_MAX - 1));
        if (end == std::string::npos || end <= start || path.size() - start < PATH_MAX)
            end = path.size();
        std::string part = path.substr(start, end - start);
        if (!part.empty() && part.find_first_not_of('/') != std::string::npos)
            folder = UniqueFd(openat(folder.Get(), part.c_str(), flags));
        start = end + 1;
    }
    return folder;
}

Entry EntryOf(const char* name, const struct stat& status) {
    Entry entry;
    entry.name = name;
    switch (status.st_mode & S_IFMT) {
        case S_IFREG:
            entry.kind = EntryKind::kFile;
            entry.size = static_cast<std::uint64_t>(status.st_size);
            break;
        case S_IFDIR:
            entry.kind = EntryKind::kFolder;
            break;
        case S_IFLNK:
            entry.kind = EntryKind::kLink;
            entry.size = static_cast<std::uint64_t>(status.st_size);
            break;
        default:
            entry.kind = EntryKind::kSpecial;
    }
    entry.names = status.st_nlink;
    entry.identity = {static_cast<std::uint64_t>(status.st_dev),
                      static_cast<std::uint64_t>(status.st_ino)};
    return entry;
}

struct stat StatusOf(int folder, const char* name, CopyError::Side side) {
    struct stat status;
    if (fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
        FailWithErrno(side, "read");
    return status;
}

std::vector<std::string> NamesIn(int folder, CopyError::Side side) {
    UniqueFd copy(fcntl(folder, F_DUPFD_CLOEXEC, 0));
    DIR* listing = copy.Valid() ? fdopendir(copy.Get()) : nullptr;
    if (listing == nullptr)
        FailWithErrno(side, "list");
    copy.Release();
    rewinddir(listing);  // the offset is shared with `folder`
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* item = readdir(listing)) {
        if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0)
            names.emplace_back(item->d_name);
    }
    int error = errno;
    closedir(listing);
    if (error != 0) {
        errno = error;
        FailWithErrno(side, "list");
    }
    return names;
}

bool IsMountRoot(int fd) {
    struct statx status;
    return statx(fd, "", AT_EMPTY_PATH, 0, &status) == 0 &&
           (status.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
}

// Removes the folder `name` of `parent` with everything in it, following no link.
void RemoveTree(int parent, const char* name) {
    UniqueFd folder(openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.Valid())
        FailWithErrno(CopyError::kTarget, "remove the folder in the way of");
    if (IsMountRoot(folder.Get())) {
        errno = EBUSY;
        FailWithErrno(CopyError::kTarget, "remove the mounted folder in the way of");
    }
    MakePrivate(folder.Get());  // its owner may still be inside
    for (const std::string& child : NamesIn(folder.Get(), CopyError::kTarget)) {
        struct stat status = StatusOf(folder.Get(), child.c_str(), CopyError::kTarget);
        if (S_ISDIR(status.st_mode))
            RemoveTree(folder.Get(), child.c_str());
        else if (unlinkat(folder.Get(), child.c_str(), 0) != 0)
            FailWithErrno(CopyError::kTarget, "remove the folder in the way of");
    }
    if (unlinkat(parent, name, AT_REMOVEDIR) != 0)
        FailWithErrno(CopyError::kTarget, "remove the folder in the way of");
}

bool HasDefaultAcl(int folder) {
    return fgetxattr(folder, "system.posix_acl_default", nullptr, 0) > 0;
}

// Where a new entry of a folder goes: straight to its name when nothing is there (the
// folder, or else the entry, is private until the entry is complete), else to a
// temporary name beside what is there, which it replaces once complete. Removed again
// unless it is kept.
class Placement {
public:
    Placement(TargetFolder::State& folder, const char* name) : folder_(folder), name_(name) {
        struct stat status;
        if (folder.fresh || fstatat(folder.fd.Get(), name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
            if (!folder.fresh && errno != ENOENT)
                FailWithErrno(CopyError::kTarget, "open");
            direct_ = true;
        }
    }
    ~Placement() {
        if (!made_.empty() && !kept_)
            unlinkat(folder_.fd.Get(), made_.c_str(), 0);
    }
    Placement(const Placement&) = delete;
    Placement& operator=(const Placement&) = delete;

    // Makes the entry with `make(folder, name)`, which returns a negative number with errno
    // set when it fails. False when it fails.
    template <typename Make>
    bool Create(Make make) {
        if (direct_) {
            if (make(folder_.fd.Get(), name_) >= 0) {
                made_ = name_;
                return true;
            }
            if (errno != EEXIST)
                return false;
            direct_ = false;
        }
        for (;;) {
            std::string name = TemporaryName();
            if (make(folder_.fd.Get(), name.c_str()) >= 0) {
                made_ = name;
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
    }
    const char* Made() const { return made_.c_str(); }

    // Puts the entry in place now.
    void Publish() {
        if (!direct_)
            Replace(folder_.fd.Get(), made_, name_);
        kept_ = true;
    }
    // Leaves the entry for TargetFolder::PutInPlace when it replaces something: a file's
    // content must be on the disk before it replaces an earlier copy.
    void PublishOnceDurable() {
        if (!direct_)
            folder_.waiting.emplace_back(made_, name_);
        kept_ = true;
    }

    // Renames `made` of `folder` over `name`, replacing what is there.
    static void Replace(int folder, const std::string& made, const std::string& name) {
        struct stat status;
        if (fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(status.st_mode))
            RemoveTree(folder, name.c_str());
        if (renameat(folder, made.c_str(), folder, name.c_str()) != 0)
            FailWithErrno(CopyError::kTarget, "replace");
    }

private:
    TargetFolder::State& folder_;
    const char* name_;
    bool direct_ = false;
    bool kept_ = false;
    std::string made_;
};

}  // namespace

SourceFolder::SourceFolder(std::unique_ptr<State> state) : state_(std::move(state)) {}
SourceFolder::SourceFolder(SourceFolder&&) noexcept = default;
SourceFolder& SourceFolder::operator=(SourceFolder&&) noexcept = default;
SourceFolder::~SourceFolder() = default;

SourceFolder SourceFolder::OpenRoot(const std::filesystem::path& path, Entry& root) {
    std::string text = path.native();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    size_t slash = text.rfind('/');
    std::string parent = slash == std::string::npos ? "."
                         : slash == 0               ? "/"
                                                    : text.substr(0, slash);
    std::string name = slash == std::string::npos ? text : text.substr(slash + 1);
    if (name.empty())
        name = ".";
    auto state = std::make_unique<State>();
    state->fd = OpenFolderPath(parent);
    if (!state->fd.Valid())
        FailWithErrno(CopyError::kSource, "read");
    root = EntryOf(name.c_str(), StatusOf(state->fd.Get(), name.c_str(), CopyError::kSource));
    return SourceFolder(std::move(state));
}

std::vector<Entry> SourceFolder::List() const {
    std::vector<Entry> entries;
    for (const std::string& name : NamesIn(state_->fd.Get(), CopyError::kSource))
        entries.push_back(
            EntryOf(name.c_str(), StatusOf(state_->fd.Get(), name.c_str(), CopyError::kSource)));
    state_->ahead.Plan(entries);
    return entries;
}

SourceFolder SourceFolder::Folder(const Entry& entry) const {
    auto state = std::make_unique<State>();
    state->fd = UniqueFd(openat(state_->fd.Get(), entry.name.c_str(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!state->fd.Valid())
        FailWithErrno(CopyError::kSource, "read");
    return SourceFolder(std::move(state));
}

TargetFolder::TargetFolder(std::unique_ptr<State> state) : state_(std::move(state)) {}
TargetFolder::TargetFolder(TargetFolder&&) noexcept = default;
TargetFolder& TargetFolder::operator=(TargetFolder&&) noexcept = default;
TargetFolder::~TargetFolder() = default;

TargetFolder TargetFolder::Open(const std::filesystem::path& path) {
    auto state = std::make_unique<State>();
    state->fd = OpenFolderPath(path.native());
    if (!state->fd.Valid())
        FailWithErrno(CopyError::kTarget, "open");
    state->passesAttributes = HasDefaultAcl(state->fd.Get());
    return TargetFolder(std::move(state));
}

TargetFolder TargetFolder::MakeFolder(const std::filesystem::path& name) {
    const int folder = state_->fd.Get();
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    auto state = std::make_unique<State>();
    struct stat status;
    if (fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(status.st_mode)) {
            state->fd = UniqueFd(openat(folder, name.c_str(), flags));
            if (!state->fd.Valid() || fstat(state->fd.Get(), &state->before) != 0)
                FailWithErrno(CopyError::kTarget, "open");
            state->restore = true;
            state->mayHoldOthers = true;
            MakePrivate(state->fd.Get());
            state->passesAttributes = HasDefaultAcl(state->fd.Get());
            return TargetFolder(std::move(state));
        }
        if (unlinkat(folder, name.c_str(), 0) != 0)
            FailWithErrno(CopyError::kTarget, "replace");
    } else if (errno != ENOENT) {
        FailWithErrno(CopyError::kTarget, "open");
    }
    if (mkdirat(folder, name.c_str(), 0700) != 0)
        FailWithErrno(CopyError::kTarget, "make the folder");
    state->fd = UniqueFd(openat(folder, name.c_str(), flags));
    if (!state->fd.Valid())
        FailWithErrno(CopyError::kTarget, "open");
    state->fresh = true;
    state->mayHoldOthers = state_->passesAttributes;
    state->passesAttributes = state_->passesAttributes && HasDefaultAcl(state->fd.Get());
    return TargetFolder(std::move(state));
}

TargetFolder TargetFolder::OpenFolder(const std::filesystem::path& name) const {
    auto state = std::make_unique<State>();
    state->fd = UniqueFd(
        openat(state_->fd.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!state->fd.Valid())
        FailWithErrno(CopyError::kTarget, "open");
    return TargetFolder(std::move(state));
}

TargetFolder::Copied TargetFolder::CopyRegularFile(const std::filesystem::path& name,
                                                   const SourceFolder& from, const Entry& entry,
                                                   const ByteCounter& counter, Losses& losses) {
    UniqueFd source = from.Native().ahead.Open(from.Native().fd.Get(), entry.name.native());
    struct stat status;
    if (!source.Valid() || fstat(source.Get(), &status) != 0)
        FailWithErrno(CopyError::kSource, "read");
    Placement placement(*state_, name.c_str());
    UniqueFd copy;
    if (!placement.Create([&](int folder, const char* made) {
            copy = UniqueFd(
                openat(folder, made, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
            return copy.Get();
        }))
        FailWithErrno(CopyError::kTarget, "write");
    CopyContent(source.Get(), copy.Get(), status, counter);
    CopyMetadata(Node::Open(source.Get()), status, Node::Open(copy.Get()), state_->passesAttributes,
                 losses);
    struct stat made = {};
    if (entry.names > 1 && fstat(copy.Get(), &made) != 0)
        FailWithErrno(CopyError::kTarget, "write");
    Copied copied{
        {static_cast<std::uint64_t>(made.st_dev), static_cast<std::uint64_t>(made.st_ino)},
        placement.Made()};
    placement.PublishOnceDurable();
    return copied;
}

void TargetFolder::CopyLink(const std::filesystem::path& name, const SourceFolder& from,
                            const Entry& entry, Losses& losses) {
    const int source = from.Native().fd.Get();
    std::string target(entry.size + 1, '\0');
    for (;;) {
        ssize_t length = readlinkat(source, entry.name.c_str(), &target[0], target.size());
        if (length < 0)
            FailWithErrno(CopyError::kSource, "read");
        if (static_cast<size_t>(length) < target.size()) {
            target.resize(static_cast<size_t>(length));
            break;
        }
        target.resize(target.size() * 2);
    }
    struct stat status = StatusOf(source, entry.name.c_str(), CopyError::kSource);
    Placement placement(*state_, name.c_str());
    if (!placement.Create(
            [&](int folder, const char* made) { return symlinkat(target.c_str(), folder, made); }))
        FailWithErrno(CopyError::kTarget, "make the link");
    CopyMetadata(Node::Named(source, entry.name.c_str()), status,
                 Node::Named(state_->fd.Get(), placement.Made()), false, losses);
    placement.Publish();
}

void TargetFolder::CopySpecial(const std::filesystem::path& name, const SourceFolder& from,
                               const Entry& entry, Losses& losses) {
    const int source = from.Native().fd.Get();
    struct stat status = StatusOf(source, entry.name.c_str(), CopyError::kSource);
    Placement placement(*state_, name.c_str());
    if (!placement.Create([&](int folder, const char* made) {
            return mknodat(folder, made, (status.st_mode & S_IFMT) | 0600, status.st_rdev);
        })) {
        losses.push_back({"", std::strerror(errno)});
        return;
    }
    CopyMetadata(Node::Named(source, entry.name.c_str()), status,
                 Node::Named(state_->fd.Get(), placement.Made()), state_->passesAttributes, losses);
    placement.Publish();
}

bool TargetFolder::AddName(const std::filesystem::path& name, const TargetFolder& folder,
                           const std::vector<std::filesystem::path>& names,
                           const FileIdentity& copy) {
    // The copy is held open and checked, so that the new name is given to it even if
    // someone changed the name it was found under since.
    UniqueFd first;
    for (const auto& held : names) {
        first = UniqueFd(
            openat(folder.Native().fd.Get(), held.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat status;
        if (first.Valid() && fstat(first.Get(), &status) == 0 &&
            FileIdentity{static_cast<std::uint64_t>(status.st_dev),
                         static_cast<std::uint64_t>(status.st_ino)} == copy)
            break;
        first.Reset();
    }
    if (!first.Valid())
        return false;
    std::string path = "/proc/self/fd/" + std::to_string(first.Get());
    Placement placement(*state_, name.c_str());
    if (!placement.Create([&](int at, const char* made) {
            return linkat(AT_FDCWD, path.c_str(), at, made, AT_SYMLINK_FOLLOW);
        }))
        return false;
    // The file's content may not be on the disk yet.
    placement.PublishOnceDurable();
    return true;
}

bool TargetFolder::Waiting() const { return !state_->waiting.empty(); }

void TargetFolder::PutInPlace() {
    auto& waiting = state_->waiting;
    while (!waiting.empty()) {
        Placement::Replace(state_->fd.Get(), waiting.back().first, waiting.back().second);
        waiting.pop_back();
    }
}

void TargetFolder::Finish(const SourceFolder& source, Losses& losses) {
    struct stat status;
    if (fstat(source.Native().fd.Get(), &status) != 0)
        FailWithErrno(CopyError::kSource, "read");
    CopyMetadata(Node::Open(source.Native().fd.Get()), status, Node::Open(state_->fd.Get()),
                 state_->mayHoldOthers, losses);
    state_->restore = false;
}

void TargetFolder::Sync() {
    if (syncfs(state_->fd.Get()) != 0)
        FailWithErrno(CopyError::kTarget, "sync");
}

}  // namespace qtool
