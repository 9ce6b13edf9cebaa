#include "Held.h"

#include "base/posix/StoreIdentity.h"
#include "posix/Fd.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <linux/btrfs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qtool {
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
    btrfs_ioctl_fs_info_args info = {};
    Fd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.Valid() || ioctl(fd.Get(), BTRFS_IOC_FS_INFO, &info) != 0)
        return "";
    return std::string(reinterpret_cast<const char*>(info.fsid), sizeof info.fsid);
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
        const std::string store = std::string("/") + quorlin::kStoreDirectoryName + "/";
        size_t at = held.find(store);
        if (at == std::string::npos)
            return;
        const std::string mountPoint = at == 0 ? "/" : held.substr(0, at);
        const size_t idStart = at + store.size();
        const std::string id = held.substr(idStart, held.find('/', idStart) - idStart);
        const std::string storePath = held.substr(0, idStart - 1);
        struct stat status;
        bool known = std::any_of(found_.begin(), found_.end(), [&](const HeldEntry& entry) {
            return entry.volume == mountPoint && entry.snapshotId == id;
        });
        if (known || id.empty() || lstat(storePath.c_str(), &status) != 0 ||
            !quorlin::IsStoreEntry(quorlin::kStoreDirectoryName, status) ||
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
        std::ifstream lines(table);
        std::string line;
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            std::string id, parent, device, root, mountPoint;
            fields >> id >> parent >> device >> root >> mountPoint;
            // A mount of a folder in a deleted snapshot (its own root deleted or not).
            const std::string kDeleted = "//deleted";
            if (root.size() > kDeleted.size() &&
                root.compare(root.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
                root.resize(root.size() - kDeleted.size());
            if (root.find(std::string("/") + quorlin::kStoreDirectoryName + "/") ==
                std::string::npos)
                continue;
            // The root is a path in the file system: it is named as a mount here shows it.
            for (const auto& shown : MountsOf(device))
                if (root.compare(0, shown.first.size(), shown.first) == 0)
                    Held(pid, (shown.second == "/" ? "" : shown.second) +
                                  root.substr(shown.first == "/" ? 0 : shown.first.size()));
        }
    }

    std::vector<HeldEntry> Found() const { return found_; }

private:
    // The mounts here of the file system `device` (major:minor): root, mount point.
    static std::vector<std::pair<std::string, std::string>> MountsOf(const std::string& device) {
        std::vector<std::pair<std::string, std::string>> mounts;
        std::ifstream lines("/proc/self/mountinfo");
        std::string line;
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            std::string id, parent, shown, root, mountPoint;
            fields >> id >> parent >> shown >> root >> mountPoint;
            if (shown == device)
                mounts.push_back({root, mountPoint});
        }
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
