#include "TreeCompare.h"

#include "ToolProcess.h"
#include "base/posix/UniqueFd.h"

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace tooltest {
namespace {

using quorlin::UniqueFd;

std::set<std::string> Names(int folder) {
    std::set<std::string> names;
    DIR* listing = fdopendir(dup(folder));
    if (listing == nullptr)
        return names;
    while (const dirent* item = readdir(listing))
        if (std::string(item->d_name) != "." && std::string(item->d_name) != "..")
            names.insert(item->d_name);
    closedir(listing);
    return names;
}

// The extended attributes of an entry of `folder`, not followed.
std::map<std::string, std::string> Attributes(int folder, const std::string& name) {
    std::string path = "/proc/self/fd/" + std::to_string(folder) + "/" + name;
    std::map<std::string, std::string> attributes;
    char list[65536];
    ssize_t size = llistxattr(path.c_str(), list, sizeof list);
    for (ssize_t at = 0; at < size; at += static_cast<ssize_t>(std::strlen(list + at)) + 1) {
        char value[65536];
        ssize_t length = lgetxattr(path.c_str(), list + at, value, sizeof value);
        attributes[list + at] = length < 0 ? "(unreadable)" : std::string(value, length);
    }
    return attributes;
}

// Where the file has data, as SEEK_DATA and SEEK_HOLE tell.
std::vector<std::pair<off_t, off_t>> DataRanges(int fd, off_t size) {
    std::vector<std::pair<off_t, off_t>> ranges;
    for (off_t at = 0; at < size;) {
        off_t data = lseek(fd, at, SEEK_DATA);
        if (data < 0)
            break;
        off_t hole = lseek(fd, data, SEEK_HOLE);
        ranges.emplace_back(data, hole);
        at = hole;
    }
    return ranges;
}

std::string Time(const timespec& time) {
    return std::to_string(time.tv_sec) + "." + std::to_string(time.tv_nsec);
}

class Comparison {
public:
    Comparison(const std::vector<std::string>& leftOut)
        : leftOut_(leftOut.begin(), leftOut.end()) {}

    // The entry `name` of `originalFolder` and its copy `copyName` of `copyFolder`.
    void Entry(int originalFolder, int copyFolder, const std::string& name,
               const std::string& copyName, const std::string& path) {
        struct stat a, b;
        if (fstatat(originalFolder, name.c_str(), &a, AT_SYMLINK_NOFOLLOW) != 0)
            return Differs(path, "cannot be read in the original");
        if (fstatat(copyFolder, copyName.c_str(), &b, AT_SYMLINK_NOFOLLOW) != 0)
            return Differs(path, "is missing from the copy");
        if ((a.st_mode & S_IFMT) != (b.st_mode & S_IFMT))
            return Differs(path, "has another type");
        Same(path, "permissions", a.st_mode & 07777, b.st_mode & 07777);
        Same(path, "owner", a.st_uid, b.st_uid);
        Same(path, "group", a.st_gid, b.st_gid);
        Same(path, "modification time", Time(a.st_mtim), Time(b.st_mtim));
        // A file read under its first name has a new access time under the others.
        if ((a.st_nlink == 1 && b.st_nlink == 1) || FirstName(path, a, b))
            Same(path, "access time", Time(a.st_atim), Time(b.st_atim));
        if (Attributes(originalFolder, name) != Attributes(copyFolder, copyName))
            Differs(path, "has other extended attributes");
        if (S_ISREG(a.st_mode)) {
            UniqueFd x(openat(originalFolder, name.c_str(), O_RDONLY | O_NOFOLLOW));
            UniqueFd y(openat(copyFolder, copyName.c_str(), O_RDONLY | O_NOFOLLOW));
            if (ReadAll(x.Get()) != ReadAll(y.Get()))
                Differs(path, "has other content");
            if (DataRanges(x.Get(), a.st_size) != DataRanges(y.Get(), b.st_size))
                Differs(path, "has its holes elsewhere");
        } else if (S_ISLNK(a.st_mode)) {
            char x[4096], y[4096];
            ssize_t n = readlinkat(originalFolder, name.c_str(), x, sizeof x);
            ssize_t m = readlinkat(copyFolder, copyName.c_str(), y, sizeof y);
            if (n < 0 || m < 0 || std::string(x, n) != std::string(y, m))
                Differs(path, "links elsewhere");
        } else if (S_ISCHR(a.st_mode) || S_ISBLK(a.st_mode)) {
            Same(path, "device", a.st_rdev, b.st_rdev);
        } else if (S_ISDIR(a.st_mode)) {
            UniqueFd x(openat(originalFolder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
            UniqueFd y(openat(copyFolder, copyName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
            Folder(x.Get(), y.Get(), path);
        }
    }

    void Folder(int original, int copy, const std::string& path) {
        std::set<std::string> names = Names(original);
        std::set<std::string> copied = Names(copy);
        for (const std::string& name : names) {
            std::string inner = path.empty() ? name : path + "/" + name;
            if (leftOut_.count(inner) != 0) {
                if (copied.count(name) != 0)
                    Differs(inner, "should have been left out");
                continue;
            }
            Entry(original, copy, name, name, inner);
        }
        for (const std::string& name : copied)
            if (names.count(name) == 0)
                Differs(path.empty() ? name : path + "/" + name, "is only in the copy");
    }

    std::vector<std::string> differences;

private:
    template <typename T>
    void Same(const std::string& path, const char* what, const T& a, const T& b) {
        if (a != b) {
            std::ostringstream line;
            line << std::oct << "has another " << what << ": " << b << " instead of " << a;
            Differs(path, line.str());
        }
    }
    void Differs(const std::string& path, const std::string& what) {
        differences.push_back((path.empty() ? "." : path) + " " + what);
    }
    // Checks that each file has one copy, whatever its names; true at its first name.
    bool FirstName(const std::string& path, const struct stat& a, const struct stat& b) {
        auto original = std::make_pair(a.st_dev, a.st_ino);
        auto copy = std::make_pair(b.st_dev, b.st_ino);
        auto known = copies_.emplace(original, copy);
        auto used = originals_.emplace(copy, original);
        if (known.first->second != copy || used.first->second != original)
            Differs(path, "breaks a hard link");
        return known.second;
    }

    std::set<std::string> leftOut_;
    std::map<std::pair<dev_t, ino_t>, std::pair<dev_t, ino_t>> copies_;
    std::map<std::pair<dev_t, ino_t>, std::pair<dev_t, ino_t>> originals_;
};

std::pair<std::string, std::string> Split(const std::string& path) {
    size_t slash = path.rfind('/');
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

}  // namespace

std::vector<std::string> CompareTrees(const std::string& original, const std::string& copy,
                                      const std::vector<std::string>& leftOut) {
    Comparison comparison(leftOut);
    auto a = Split(original);
    auto b = Split(copy);
    UniqueFd x(open(a.first.c_str(), O_RDONLY | O_DIRECTORY));
    UniqueFd y(open(b.first.c_str(), O_RDONLY | O_DIRECTORY));
    comparison.Entry(x.Get(), y.Get(), a.second, b.second, "");
    return comparison.differences;
}

}  // namespace tooltest
