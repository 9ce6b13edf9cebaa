#include "InPlace.h"

#include "Failure.h"
#include "posix/Fd.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/btrfs.h>
#include <linux/btrfs_tree.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace qtool {
namespace {

// Why a bind could not be made: what failed, and the errno value (0: a check failed).
struct BindFailure {
    std::string what;
    int error;
};

[[noreturn]] void Fail(const std::string& what, int error = errno) {
    throw BindFailure{what, error};
}

// What failed, and why.
std::string Sentence(const BindFailure& failure) {
    return failure.what +
           (failure.error != 0 ? std::string(" (") + std::strerror(failure.error) + ")" : "");
}

std::string FdPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// An entry reached without following a link: its folder, open, and the entry itself as an
// O_PATH descriptor.
struct Reached {
    Fd folder;
    std::string name;
    Fd entry;
    struct stat status = {};
};

// Opens `relative` (names separated by '/') from the folder `start`, following no link on
// the way nor at the end. A mount on the way, or on the entry, is entered.
Reached ReachBelow(int start, const std::string& relative, const std::string& shown) {
    Reached reached;
    reached.folder.Reset(fcntl(start, F_DUPFD_CLOEXEC, 0));
    size_t begin = relative.find_first_not_of('/');
    if (begin == std::string::npos)
        Fail("bind over " + shown + ": name the folders below it", EINVAL);
    if (!reached.folder.Valid())
        Fail("open " + shown);
    for (;;) {
        size_t end = relative.find('/', begin);
        std::string name = relative.substr(begin, end == std::string::npos ? end : end - begin);
        if (name == "." || name == "..")
            Fail("open " + shown + " without \".\" or \"..\"", EINVAL);
        size_t next = end == std::string::npos ? end : relative.find_first_not_of('/', end);
        if (next == std::string::npos) {
            reached.name = name;
            reached.entry.Reset(
                openat(reached.folder.Get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
            if (!reached.entry.Valid() || fstat(reached.entry.Get(), &reached.status) != 0)
                Fail("open " + shown);
            return reached;
        }
        Fd folder(openat(reached.folder.Get(), name.c_str(),
                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!folder.Valid())
            Fail("open " + shown);
        reached.folder = std::move(folder);
        begin = next;
    }
}

Reached ReachAbsolute(const std::string& path) {
    Fd root(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root.Valid())
        Fail("open /");
    return ReachBelow(root.Get(), path, path);
}

// What btrfs tells of the subvolume that holds `reached`.
btrfs_ioctl_get_subvol_info_args SubvolumeOf(const Reached& reached, const std::string& shown) {
    Fd directory(S_ISDIR(reached.status.st_mode)
                     ? open(FdPath(reached.entry.Get()).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                     : fcntl(reached.folder.Get(), F_DUPFD_CLOEXEC, 0));
    btrfs_ioctl_get_subvol_info_args info = {};
    if (!directory.Valid() || ioctl(directory.Get(), BTRFS_IOC_GET_SUBVOL_INFO, &info) < 0)
        Fail("read the btrfs subvolume of " + shown);
    return info;
}

bool SameEntry(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The snapshot of a bind, checked against the live entry at its target: the same entry
// (inode) in a read-only snapshot of the live entry's subvolume. So whatever a user swaps
// in on the way, only a frozen view of the entry itself goes over the entry.
struct Checked {
    Reached snapshot;
    struct stat live = {};
};

Checked Check(const Bind& bind) {
    Checked checked{ReachAbsolute(bind.snapshot), {}};
    Reached live = ReachAbsolute(bind.target);
    btrfs_ioctl_get_subvol_info_args frozen = SubvolumeOf(checked.snapshot, bind.snapshot);
    btrfs_ioctl_get_subvol_info_args current = SubvolumeOf(live, bind.target);
    bool same = (frozen.flags & BTRFS_ROOT_SUBVOL_RDONLY) != 0 &&
                std::memcmp(frozen.parent_uuid, current.uuid, sizeof current.uuid) == 0 &&
                checked.snapshot.status.st_ino == live.status.st_ino &&
                (checked.snapshot.status.st_mode & S_IFMT) == (live.status.st_mode & S_IFMT);
    if (!same)
        Fail("find " + bind.snapshot + " to be a read-only snapshot of " + bind.target, 0);
    checked.live = live.status;
    return checked;
}

// Makes the mount at `shown` (its root, open) read-only, keeping its other flags.
void MakeReadOnly(const Reached& shown, const std::string& target) {
    struct statvfs status;
    std::string path = FdPath(shown.entry.Get());
    if (statvfs(path.c_str(), &status) != 0)
        Fail("read the mount flags of " + target);
    unsigned long flags = MS_BIND | MS_REMOUNT | MS_RDONLY;
    const std::pair<unsigned long, unsigned long> kept[] = {
        {ST_NOSUID, MS_NOSUID},   {ST_NODEV, MS_NODEV},           {ST_NOEXEC, MS_NOEXEC},
        {ST_NOATIME, MS_NOATIME}, {ST_NODIRATIME, MS_NODIRATIME}, {ST_RELATIME, MS_RELATIME}};
    for (const auto& flag : kept)
        if ((status.f_flag & flag.first) != 0)
            flags |= flag.second;
    if (mount(nullptr, path.c_str(), nullptr, flags, nullptr) != 0)
        Fail("make " + target + " read-only");
}

// Binds each snapshot over its target in this process's own mount namespace.
void MakeBinds(const std::vector<Bind>& binds) {
    if (unshare(CLONE_NEWNS) != 0)
        Fail("enter a mount namespace of its own");
    // Nothing done here may reach the mounts of other processes.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        Fail("make the mounts private");
    // All snapshots are reached first: a bind over a volume hides the store below it.
    std::vector<Checked> checked;
    for (const Bind& bind : binds)
        checked.push_back(Check(bind));
    std::vector<int> enclosing = EnclosingBinds(binds);
    std::vector<Reached> shown;
    for (size_t i = 0; i < binds.size(); ++i) {
        const std::string& target = binds[i].target;
        // Below an earlier bind the way runs inside a read-only snapshot; above, through
        // the live folders, and it must end at the entry checked.
        Reached place = enclosing[i] < 0
                            ? ReachAbsolute(target)
                            : ReachBelow(shown[enclosing[i]].entry.Get(),
                                         target.substr(binds[enclosing[i]].target.size()), target);
        const struct stat& frozen = checked[i].snapshot.status;
        bool bind = !SameEntry(place.status, frozen);
        if (bind && enclosing[i] < 0 && !SameEntry(place.status, checked[i].live))
            Fail("find " + target + " where it was", 0);
        if (bind && enclosing[i] >= 0 && !S_ISDIR(place.status.st_mode))
            Fail("find the folder " + target + " in the snapshot", 0);
        if (bind && mount(FdPath(checked[i].snapshot.entry.Get()).c_str(),
                          FdPath(place.entry.Get()).c_str(), nullptr, MS_BIND, nullptr) != 0)
            Fail("bind the snapshot over " + target);
        Reached over = ReachBelow(place.folder.Get(), place.name, target);
        if (!SameEntry(over.status, frozen))
            Fail("find the snapshot bound over " + target, 0);
        if (bind)
            MakeReadOnly(over, target);
        shown.push_back(std::move(over));
    }
}

}  // namespace

std::string FrozenViewProblem(const Bind& bind) {
    try {
        Check(bind);
        return "";
    } catch (const BindFailure& failure) {
        return "could not " + Sentence(failure);
    }
}

void CheckInPlaceSupported() {}

int RunInPlaceChild(const std::vector<std::string>& arguments) {
    std::vector<Bind> binds;
    std::vector<std::string> command;
    if (!ParseInPlaceArguments(arguments, binds, command)) {
        std::fprintf(stderr, "quorlin: %s is for quorlin's own use.\n", kInPlaceChild);
        return kExitUsage;
    }
    try {
        MakeBinds(binds);
    } catch (const BindFailure& failure) {
        std::string reason =
            failure.error != 0 ? std::string(" (") + std::strerror(failure.error) + ")" : "";
        std::fprintf(stderr,
                     "quorlin: could not %s%s; the command was not run, and nothing outside it "
                     "changed.\n",
                     failure.what.c_str(), reason.c_str());
        return kExitCannotRun;
    }
    std::vector<char*> argv;
    for (std::string& argument : command)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    std::fprintf(stderr, "quorlin: could not run \"%s\" (%s); check the command's name and PATH.\n",
                 command[0].c_str(), std::strerror(errno));
    return kExitCannotRun;
}

std::vector<std::string> InPlaceCommand(const std::vector<Bind>& binds,
                                        const std::vector<std::string>& command) {
    std::vector<std::string> arguments = {"/proc/self/exe", kInPlaceChild};
    std::vector<std::string> rest = InPlaceArguments(binds, command);
    arguments.insert(arguments.end(), rest.begin(), rest.end());
    return arguments;
}

}  // namespace qtool
