// What `copy` asks of the file system. The snapshot's folders are read, and the
// destination's written, through open folders rather than paths, so that no path length
// limits a copy and nothing a user put in the destination (a link, a hard link, an entry
// of another type) is followed or written through: an entry in the way is replaced.
// Each platform answers with its own calls (tools/posix, tools/win32).
#ifndef QUORLIN_TOOL_FILE_SYSTEM_H
#define QUORLIN_TOOL_FILE_SYSTEM_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace qtool {

enum class EntryKind {
    kFile,
    kFolder,
    kLink,     // a symbolic link, copied as a link
    kSpecial,  // a fifo, a device node or a socket, made anew
    kOther     // nothing the platform can copy (on Windows: a link, junction or mount point)
};

// A file as the file system knows it, whatever names it has.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t index = 0;
    bool operator<(const FileIdentity& other) const {
        return std::tie(device, index) < std::tie(other.device, other.index);
    }
    bool operator==(const FileIdentity& other) const {
        return device == other.device && index == other.index;
    }
};

struct Entry {
    std::filesystem::path name;  // one component
    EntryKind kind = EntryKind::kOther;
    std::uint64_t size = 0;   // of a file
    std::uint64_t names = 1;  // hard links: how many names the file has
    FileIdentity identity;
};

// Something of an entry that the copy could not keep: `what` ("the extended attribute
// user.x"; empty for the entry itself) and why.
struct Loss {
    std::string what;
    std::string why;
};
using Losses = std::vector<Loss>;

// A read of the snapshot or a write to the destination that failed. The copy names the
// entry; this says what was done to it ("write") and why it failed ("No space left on
// device").
class CopyError : public std::runtime_error {
public:
    enum Side { kSource, kTarget };
    CopyError(Side side, const std::string& action, const std::string& reason)
        : std::runtime_error(action + " (" + reason + ")"),
          side_(side),
          action_(action),
          reason_(reason) {}
    Side OnSide() const { return side_; }
    const std::string& Action() const { return action_; }
    const std::string& Reason() const { return reason_; }

private:
    Side side_;
    std::string action_;
    std::string reason_;
};

// The system refuses the entry to the copy, which names it and goes on with the rest:
// on Windows, a file or folder that even backup semantics may not open (access denied,
// or held open by another program without sharing).
class EntryRefused : public CopyError {
public:
    EntryRefused(const std::string& action, const std::string& reason)
        : CopyError(kSource, action, reason) {}
};

// Told of each piece of content copied, in bytes; it may throw to end the copy.
using ByteCounter = std::function<void(std::uint64_t)>;

// An open folder of the snapshot.
class SourceFolder {
public:
    struct State;  // the platform's
    explicit SourceFolder(std::unique_ptr<State> state);
    SourceFolder(SourceFolder&&) noexcept;
    SourceFolder& operator=(SourceFolder&&) noexcept;
    ~SourceFolder();

    // Opens the entry at `path` (a link is not followed): `root` receives it, and the
    // folder returned is the one to read it from with Folder() or a TargetFolder call.
    static SourceFolder OpenRoot(const std::filesystem::path& path, Entry& root);
    // The entries, without "." and "..".
    std::vector<Entry> List() const;
    // The folder `entry` of this folder.
    SourceFolder Folder(const Entry& entry) const;

    State& Native() const { return *state_; }

private:
    std::unique_ptr<State> state_;
};

// An open folder of the destination. Folders made for the copy stay private (only the
// process's user may enter them) until Finish, so that no one can see or change what
// they hold while it is copied. Files, links and special files are made private, given
// their metadata, and put in place only then: where something is in the way, under a
// temporary name beside it that replaces it once complete, so that a failure leaves the
// earlier copy. A file replaces an earlier copy only once its content is on the disk:
// it waits for PutInPlace.
class TargetFolder {
public:
    struct State;  // the platform's
    explicit TargetFolder(std::unique_ptr<State> state);
    TargetFolder(TargetFolder&&) noexcept;
    TargetFolder& operator=(TargetFolder&&) noexcept;
    // A folder made private by MakeFolder and not finished gets back the owner and
    // permissions it had.
    ~TargetFolder();

    // Opens the folder at `path`, the destination that the user named (links followed).
    static TargetFolder Open(const std::filesystem::path& path);
    // The folder `name` in this one, made private for the copy: a new one, or the folder
    // already there; anything else there is replaced.
    TargetFolder MakeFolder(const std::filesystem::path& name);
    // The folder `name` in this one as it is; a link is not followed.
    TargetFolder OpenFolder(const std::filesystem::path& name) const;

    // A file copied: its identity, and its name until it is put in place.
    struct Copied {
        FileIdentity identity;
        std::filesystem::path name;
    };
    // Copies the file `entry` of `from` to `name`, telling `counter` of the content as it
    // goes.
    Copied CopyRegularFile(const std::filesystem::path& name, const SourceFolder& from,
                           const Entry& entry, const ByteCounter& counter, Losses& losses);
    // Makes `name` a link, or a special file, like `entry` of `from`.
    void CopyLink(const std::filesystem::path& name, const SourceFolder& from, const Entry& entry,
                  Losses& losses);
    void CopySpecial(const std::filesystem::path& name, const SourceFolder& from,
                     const Entry& entry, Losses& losses);
    // Makes `name` another name of the file `copy`, which the folder `folder` holds under
    // one of `names`. False when it holds it no more, or the file system refuses another
    // name.
    bool AddName(const std::filesystem::path& name, const TargetFolder& folder,
                 const std::vector<std::filesystem::path>& names, const FileIdentity& copy);
    // Whether files wait to replace earlier copies.
    bool Waiting() const;
    // Puts the files that wait in place. Call once they are on the disk (Sync).
    void PutInPlace();
    // Gives this folder the metadata of `source` (owner, extended attributes,
    // permissions, times): the last step of its copy, after PutInPlace.
    void Finish(const SourceFolder& source, Losses& losses);
    // Makes everything written to this folder's file system durable.
    void Sync();

    State& Native() const { return *state_; }

private:
    std::unique_ptr<State> state_;
};

// A name for a temporary entry, different at each call.
std::string TemporaryName();

}  // namespace qtool

#endif  // QUORLIN_TOOL_FILE_SYSTEM_H
