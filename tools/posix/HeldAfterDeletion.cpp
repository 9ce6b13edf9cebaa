#include "Held.h"

#include "base/posix/BtrfsIoctl.h"
#include "base/posix/MountTable.h"
#include "base/posix/StoreIdentity.h"
#include "base/posix/UniqueFd.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/btrfs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qtool {

using quorlin::UniqueFd;
namespace {

std::string LinkOf(const std::string& path) {
    char target[4096];
    ssize_t length = readlink(path.c_str(), target, sizeof target);
    return length > 0 && static_cast<size_t>(length) < sizeof target
               ? std::string(target, static_cast<size_t>(length))
               : "";
}

// The names in the folder `path` (without "." and "..").
std::vector<std::string> Names(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* folder = opendir(path.c_str())) {
        while (const dirent* entry = readdir(folder))
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.push_back(entry->d_name);
        closedir(folder);
    }
    return names;
}

// The identity of the btrfs file system that holds `path`; empty when none does.
std::string FileSystemOf(const std::string& path) {
    std::array<uint8_t, 16> id;
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.Valid() || quorlin::FileSystemIdOf(fd.Get(), id) != 0)
        return "";
    return std::string(id.begin(), id.end());
}

class Finder {
public:
    explicit Finder(const std::string& path)
        : fileSystem_(path.empty() ? "" : FileSystemOf(path)), any_(path.empty()) {}

    // A path that process `pid` holds: a snapshot in a store of the service, gone from it?
    void Held(long pid, std::string held) {
        const std::string kDeleted = " (deleted)";
        if (held.size() > kDeleted.size() &&
            held.compare(held.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
            held.resize(held.size() - kDeleted.size());
        size_t storeLength = 0;
        const size_t at = quorlin::FindStoreName(held, storeLength);
        if (at == std::string::npos)
            return;
        const std::string mountPoint = at == 0 ? "/" : held.substr(0, at);
        const std::string storeName = held.substr(at + 1, storeLength);
        const size_t idStart = at + 1 + storeLength + 1;
        const std::string id =
            idStart < held.size() ? held.substr(idStart, held.find('/', idStart) - idStart) : "";
        const std::string storePath = held.substr(0, idStart - 1);
        struct stat status;
        bool known = std::any_of(found_.begin(), found_.end(), [&](const HeldEntry& entry) {
            return entry.volume == mountPoint && entry.snapshotId == id;
        });
        if (known || id.empty() || lstat(storePath.c_str(), &status) != 0 ||
            !quorlin::IsStoreEntry(storeName.c_str(), status) ||
            lstat((storePath + "/" + id).c_str(), &status) == 0 ||
            (!any_ && FileSystemOf(storePath) != fileSystem_))
            return;
        HeldEntry entry;
        entry.snapshotId = id;
        entry.volume = mountPoint;
        entry.ownerPid = pid;
        entry.deleted = true;
        found_.push_back(entry);
    }

    // The roots of the mounts in a mount table that lie in a store.
    void Mounts(long pid, const std::string& table) {
        const UniqueFd fd(open(table.c_str(), O_RDONLY | O_CLOEXEC));
        std::vector<quorlin::Mount> mounts;
        if (!fd.Valid() || quorlin::ReadMountTable(fd.Get(), mounts) != 0)
            return;
        for (quorlin::Mount& mount : mounts) {
            std::string& root = mount.root;
            // A mount of a folder in a deleted snapshot (its own root deleted or not).
            const std::string kDeleted = "//deleted";
            if (root.size() > kDeleted.size() &&
                root.compare(root.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
                root.resize(root.size() - kDeleted.size());
            size_t storeLength = 0;
            if (quorlin::FindStoreName(root, storeLength) == std::string::npos)
                continue;
            // The root is a path in the file system: it is named as a mount here shows it.
            for (const quorlin::Mount& shown : MountsOf(mount.device))
                if (root.compare(0, shown.root.size(), shown.root) == 0)
                    Held(pid, (shown.mountPoint == "/" ? "" : shown.mountPoint) +
                                  root.substr(shown.root == "/" ? 0 : shown.root.size()));
        }
    }

    std::vector<HeldEntry> Found() const { return found_; }

private:
    // The mounts here of the file system `device` (major:minor).
    static std::vector<quorlin::Mount> MountsOf(const std::string& device) {
        std::vector<quorlin::Mount> mounts;
        if (quorlin::ReadMountTable(mounts) != 0)
            return {};
        mounts.erase(
            std::remove_if(mounts.begin(), mounts.end(),
                           [&](const quorlin::Mount& mount) { return mount.device != device; }),
            mounts.end());
        return mounts;
    }

    std::string fileSystem_;
    bool any_;
    std::vector<HeldEntry> found_;
};

}  // namespace

std::vector<HeldEntry> HeldAfterDeletion(const std::string& path) {
    Finder finder(path);
    std::vector<std::string> namespaces;
    for (const std::string& name : Names("/proc")) {
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const long pid = std::stol(name);
        const std::string process = "/proc/" + name;
        finder.Held(pid, LinkOf(process + "/cwd"));
        finder.Held(pid, LinkOf(process + "/root"));
        for (const std::string& fd : Names(process + "/fd"))
            finder.Held(pid, LinkOf(process + "/fd/" + fd));
        const std::string view = LinkOf(process + "/ns/mnt");
        if (!view.empty() &&
            std::find(namespaces.begin(), namespaces.end(), view) == namespaces.end()) {
            namespaces.push_back(view);
            finder.Mounts(pid, process + "/mountinfo");
        }
    }
    return finder.Found();
}

}  // namespace qtool
