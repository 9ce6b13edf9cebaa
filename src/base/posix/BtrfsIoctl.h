// The btrfs operations the snapshot service needs, as free functions on directory
// descriptors. Each returns 0 or the errno value of the failed call.
#ifndef QUORLIN_BASE_POSIX_BTRFS_IOCTL_H
#define QUORLIN_BASE_POSIX_BTRFS_IOCTL_H

#include <array>
#include <cstdint>
#include <linux/btrfs.h>
#include <sys/stat.h>
#include <sys/statfs.h>

namespace quorlin {

// The root folder of every btrfs subvolume has this inode number.
const ino_t kSubvolumeRootInode = 256;

// ioctl(2), repeated when a signal interrupts it.
int CallIoctl(int fd, unsigned long request, void* argument);

// Whether the file with status `st`, on a file system with status `fs`, is the root of a
// btrfs subvolume (a volume here).
bool IsSubvolumeRoot(const struct statfs& fs, const struct stat& st);
// A read-only snapshot of the subvolume whose root is `sourceFd`, as `name` in `dirFd`.
int CreateReadOnlySnapshot(int sourceFd, int dirFd, const char* name);
// Removes the subvolume (or snapshot) `name` in `dirFd`. The removal is durable only
// once the transaction holding it commits (CommitTransaction).
int DestroySubvolume(int dirFd, const char* name);
// A new empty subvolume `name` in `dirFd`.
int CreateSubvolume(int dirFd, const char* name);
// Commits the running transaction of the file system holding `fd` and waits for it.
int CommitTransaction(int fd);
// Starts the commit of the running transaction of the file system holding `fd` without
// waiting for it: whoever joins the file system's transactions meanwhile waits until the
// commit lets them in, and all of them then join the next transaction together.
int StartCommit(int fd);
// The transaction in which the subvolume whose root is `fd` was made (its otransid).
int CreationGeneration(int fd, uint64_t& generation);
// The identity of the subvolume that holds `fd` (its tree's object id).
int SubvolumeIdOf(int fd, uint64_t& id);
// The identity of the file system that holds `fd`, the same under every mount of it.
int FileSystemIdOf(int fd, std::array<uint8_t, 16>& id);
// What btrfs tells of the subvolume that holds `fd` (its identity, flags, parent): `info`
// is cleared first.
int SubvolumeInfoOf(int fd, btrfs_ioctl_get_subvol_info_args& info);

}  // namespace quorlin

#endif  // QUORLIN_BASE_POSIX_BTRFS_IOCTL_H
