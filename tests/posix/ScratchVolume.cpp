#include "posix/ScratchVolume.h"

#include "base/posix/BtrfsIoctl.h"
#include "base/posix/MountTable.h"
#include "platform/posix/btrfs/SnapshotStore.h"
#include "base/posix/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorlin {
namespace testing {

namespace {

const char kScratchBase[] = "/tmp";
const char kScratchPrefix[] = "quorlin-scratch-";

bool FileSystemSupported(const std::string& type) {
    std::ifstream list("/proc/filesystems");
    std::string line;
    while (std::getline(list, line))
        if (line.size() >= type.size() &&
            line.compare(line.size() - type.size(), type.size(), type) == 0)
            return true;
    return false;
}

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The start time of process `pid` (clock ticks after boot, field 22 of /proc/<pid>/stat,
// counted from the last ')' since the command name may hold blanks); ENOENT when none.
int ReadStartTime(long pid, unsigned long long& start) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!file || !std::getline(file, line))
        return ENOENT;
    const size_t close = line.rfind(')');
    std::istringstream fields(close == std::string::npos ? "" : line.substr(close + 1));
    std::string field;
    for (int index = 3; fields >> field; ++index)
        if (index == 22) {
            start = std::strtoull(field.c_str(), nullptr, 10);
            return 0;
        }
    return EIO;
}

// Whether the area `name` (quorlin-scratch-<pid>-<start time>) belongs to a process that is gone.
bool IsStale(const std::string& name) {
    long pid = 0;
    unsigned long long start = 0, running = 0;
    if (std::sscanf(name.c_str() + std::strlen(kScratchPrefix), "%ld-%llu", &pid, &start) != 2)
        return false;
    const int error = ReadStartTime(pid, running);
    return error == ENOENT || (error == 0 && running != start);
}

void RemoveArea(const std::string& path) {
    std::vector<Mount> mounts;
    if (ReadMountTable(mounts) == 0) {
        std::vector<std::string> points;
        for (const Mount& mount : mounts)
            if (mount.mountPoint.compare(0, path.size() + 1, path + "/") == 0)
                points.push_back(mount.mountPoint);
        std::sort(points.begin(), points.end(),
                  [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
        for (const std::string& point : points)
            if (::umount2(point.c_str(), 0) != 0)
                ::umount2(point.c_str(), MNT_DETACH);
    }
    // Loop devices still bound to the area's images (mount -o loop clears its own).
    RunQuietly("for image in " + Quote(path) +
               "/*.img; do [ -e \"$image\" ] && "
               "losetup -j \"$image\" | cut -d: -f1 | xargs -r -n1 losetup -d; done");
    RunQuietly("rm -rf --one-file-system " + Quote(path));
}

}  // namespace

std::string BtrfsUnavailableReason() {
    if (::geteuid() != 0)
        return "btrfs tests need root (to mount loop devices)";
    if (::access("/dev/loop-control", F_OK) != 0)
        return "btrfs tests need loop devices";
    if (!FileSystemSupported("btrfs"))
        return "btrfs tests need a kernel with btrfs";
    if (RunQuietly("command -v mkfs.btrfs && command -v losetup") != 0)
        return "btrfs tests need mkfs.btrfs and losetup";
    return "";
}

int RunQuietly(const std::string& command) {
    const int status = std::system(("( " + command + " ) >/dev/null 2>&1").c_str());
    return status == -1 ? -1 : WEXITSTATUS(status);
}

bool ScratchArea::Create(std::string& error) {
    DIR* base = ::opendir(kScratchBase);
    if (base != nullptr) {
        while (const dirent* entry = ::readdir(base)) {
            const std::string name = entry->d_name;
            if (name.compare(0, std::strlen(kScratchPrefix), kScratchPrefix) == 0 && IsStale(name))
                RemoveArea(std::string(kScratchBase) + "/" + name);
        }
        ::closedir(base);
    }
    const long self = static_cast<long>(::getpid());
    unsigned long long start = 0;
    if (ReadStartTime(self, start) != 0) {
        error = "cannot read this process's start time";
        return false;
    }
    path_ = std::string(kScratchBase) + "/" + kScratchPrefix + std::to_string(self) + "-" +
            std::to_string(start);
    if (::mkdir(path_.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot make " + path_ + ": " + std::strerror(errno);
        path_.clear();
        return false;
    }
    return true;
}

bool ScratchArea::MountBtrfs(const std::string& name, int megabytes, std::string& mountPoint,
                             std::string& error) {
    const std::string image = path_ + "/" + name + ".img";
    mountPoint = path_ + "/" + name;
    if (RunQuietly("truncate -s " + std::to_string(megabytes) + "M " + Quote(image)) != 0 ||
        RunQuietly("mkfs.btrfs -q -f " + Quote(image)) != 0) {
        error = "cannot make a btrfs image at " + image;
        return false;
    }
    if (::mkdir(mountPoint.c_str(), 0755) != 0 && errno != EEXIST) {
        error = "cannot make " + mountPoint;
        return false;
    }
    if (RunQuietly("mount -o loop " + Quote(image) + " " + Quote(mountPoint)) != 0) {
        error = "cannot mount " + image + " on a loop device";
        return false;
    }
    return true;
}

bool ScratchArea::MountTmpfs(const std::string& name, std::string& mountPoint, std::string& error) {
    mountPoint = path_ + "/" + name;
    if ((::mkdir(mountPoint.c_str(), 0755) != 0 && errno != EEXIST) ||
        ::mount("quorlin-scratch", mountPoint.c_str(), "tmpfs", 0, "size=16m") != 0) {
        error = "cannot mount a tmpfs at " + mountPoint + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void ScratchArea::Remove() {
    if (path_.empty())
        return;
    RemoveArea(path_);
    path_.clear();
}

namespace {

bool RemoveEntry(int parentFd, const std::string& name) {
    struct stat st;
    if (::fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode))
        return ::unlinkat(parentFd, name.c_str(), 0) == 0;
    // A subvolume goes whole unless it holds others; a read-only one cannot be emptied.
    if (DestroySubvolume(parentFd, name.c_str()) == 0)
        return true;
    UniqueFd dir(::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    std::vector<std::string> names;
    if (!dir.Valid() || ListDirectory(dir.Get(), names) != 0)
        return false;
    for (const std::string& child : names)
        RemoveEntry(dir.Get(), child);
    return DestroySubvolume(parentFd, name.c_str()) == 0 ||
           ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) == 0;
}

}  // namespace

bool RemoveTree(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
    UniqueFd parentFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return parentFd.Valid() && RemoveEntry(parentFd.Get(), path.substr(slash + 1));
}

bool MakeSubvolume(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    UniqueFd parentFd(::open(path.substr(0, slash).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return parentFd.Valid() && CreateSubvolume(parentFd.Get(), path.substr(slash + 1).c_str()) == 0;
}

}  // namespace testing
}  // namespace quorlin
