// The mount table of the calling process (/proc/self/mountinfo).
#ifndef QUORLIN_BASE_POSIX_MOUNT_TABLE_H
#define QUORLIN_BASE_POSIX_MOUNT_TABLE_H

#include <string>
#include <vector>

namespace quorlin {

struct Mount {
    std::string mountPoint;  // canonical, no trailing '/' except for "/"
    std::string fileSystemType;
    std::string root;    // the folder of its file system that the mount shows ("/": all)
    std::string device;  // the file system's device number, "major:minor"
};

extern const char kMountTablePath[];  // /proc/self/mountinfo

// The mounts in table order (a later mount at the same place hides an earlier one).
// Returns 0 or an errno value.
int ReadMountTable(std::vector<Mount>& mounts);
// The same, read from its start through `fd`, which has kMountTablePath open.
int ReadMountTable(int fd, std::vector<Mount>& mounts);

// The mounts that show, in table order: of several at one place only the last, which hides
// the others (the rule FindMount applies).
std::vector<Mount> ShownMounts(const std::vector<Mount>& mounts);

// The mount that holds the canonical path `path`: the longest mount point that is
// `path` or one of its ancestors, the last of equals. Null when none does.
const Mount* FindMount(const std::vector<Mount>& mounts, const std::string& path);

}  // namespace quorlin

#endif  // QUORLIN_BASE_POSIX_MOUNT_TABLE_H
