#include "InPlace.h"

#include "Failure.h"
#include "base/PathNames.h"
#include "SourcePath.h"
#include "Text.h"
#include "base/posix/BtrfsIoctl.h"
#include "base/posix/RootOnly.h"
#include "base/posix/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/btrfs.h>
#include <linux/btrfs_tree.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qtool {

using quorlin::UniqueFd;
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
    UniqueFd folder;
    std::string name;
    UniqueFd entry;
    struct stat status = {};
};

// Opens `relative` (names separated by '/') from the folder `start`, following no link on
// the way nor at the end. A mount on the way, or on the entry, is entered.
Reached ReachBelow(int start, const std::string& relative, const std::string& path) {
    const std::string shown = FieldForLine(path);
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
        UniqueFd folder(openat(reached.folder.Get(), name.c_str(),
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!folder.Valid())
            Fail("open " + shown);
        reached.folder = std::move(folder);
        begin = next;
    }
}

Reached ReachAbsolute(const std::string& path) {
    UniqueFd root(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root.Valid())
        Fail("open /");
    return ReachBelow(root.Get(), path, path);
}

// What btrfs tells of the subvolume that holds `reached`.
btrfs_ioctl_get_subvol_info_args SubvolumeOf(const Reached& reached, const std::string& shown) {
    UniqueFd directory(
        S_ISDIR(reached.status.st_mode)
            ? open(FdPath(reached.entry.Get()).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
            : fcntl(reached.folder.Get(), F_DUPFD_CLOEXEC, 0));
    btrfs_ioctl_get_subvol_info_args info = {};
    if (!directory.Valid() || quorlin::SubvolumeInfoOf(directory.Get(), info) != 0)
        Fail("read the btrfs subvolume of " + FieldForLine(shown));
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
    const std::string shown = FieldForLine(bind.snapshot);
    const struct stat& entry = checked.snapshot.status;
    if (!S_ISDIR(entry.st_mode) && !S_ISREG(entry.st_mode))
        Fail("find a folder or a file at " + shown, 0);
    btrfs_ioctl_get_subvol_info_args frozen = SubvolumeOf(checked.snapshot, bind.snapshot);
    if ((frozen.flags & BTRFS_ROOT_SUBVOL_RDONLY) == 0)
        Fail("find " + shown + " to be a read-only snapshot", 0);
    // A nested volume's place lies in its parent's snapshot: what matters is that this is a
    // snapshot of the volume found there.
    if (!bind.origin.empty()) {
        if (bind.origin.size() != sizeof frozen.parent_uuid ||
            std::memcmp(frozen.parent_uuid, bind.origin.data(), sizeof frozen.parent_uuid) != 0)
            Fail(
                "find " + shown + " to be a snapshot of the volume at " + FieldForLine(bind.target),
                0);
        return checked;
    }
    Reached live = ReachAbsolute(bind.target);
    btrfs_ioctl_get_subvol_info_args current = SubvolumeOf(live, bind.target);
    bool same = std::memcmp(frozen.parent_uuid, current.uuid, sizeof current.uuid) == 0 &&
                entry.st_ino == live.status.st_ino &&
                (entry.st_mode & S_IFMT) == (live.status.st_mode & S_IFMT);
    if (!same)
        Fail("find " + shown + " to be a read-only snapshot of " + FieldForLine(bind.target), 0);
    checked.live = live.status;
    return checked;
}

// Makes the mount at `shown` (its root, open) read-only, keeping its other flags.
void MakeReadOnly(const Reached& shown, const std::string& target) {
    struct statvfs status;
    std::string path = FdPath(shown.entry.Get());
    if (statvfs(path.c_str(), &status) != 0)
        Fail("read the mount flags of " + FieldForLine(target));
    unsigned long flags = MS_BIND | MS_REMOUNT | MS_RDONLY;
    const std::pair<unsigned long, unsigned long> kept[] = {
        {ST_NOSUID, MS_NOSUID},   {ST_NODEV, MS_NODEV},           {ST_NOEXEC, MS_NOEXEC},
        {ST_NOATIME, MS_NOATIME}, {ST_NODIRATIME, MS_NODIRATIME}, {ST_RELATIME, MS_RELATIME}};
    for (const auto& flag : kept)
        if ((status.f_flag & flag.first) != 0)
            flags |= flag.second;
    if (mount(nullptr, path.c_str(), nullptr, flags, nullptr) != 0)
        Fail("make " + FieldForLine(target) + " read-only");
}

std::string PathOf(const std::vector<std::string>& names, size_t count) {
    std::string path;
    for (size_t i = 0; i < count; ++i)
        path += "/" + names[i];
    return path.empty() ? "/" : path;
}

// The highest folder on the way to `target` in which a user other than root can change
// the entry that the way goes on through (RootOnly.h): a bind over an entry there would
// move with a rename, or go with a removal, made in the shared file system while the
// command runs. Empty when there is none. The statuses of the entries on the way, one for
// each name of `target`, go into `steps`.
std::string CoverOf(const std::string& target, std::vector<struct stat>& steps) {
    const std::vector<std::string> names = quorlin::PathNames(target);
    UniqueFd folder(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat status;
    if (!folder.Valid() || fstat(folder.Get(), &status) != 0)
        Fail("open /");
    std::string cover;
    steps.clear();
    for (size_t i = 0; i < names.size(); ++i) {
        bool last = i + 1 == names.size();
        UniqueFd next(openat(folder.Get(), names[i].c_str(),
                             (last ? O_PATH : O_RDONLY | O_DIRECTORY) | O_NOFOLLOW | O_CLOEXEC));
        struct stat nextStatus;
        if (!next.Valid() || fstat(next.Get(), &nextStatus) != 0)
            Fail("open " + FieldForLine(target));
        if (cover.empty() && !quorlin::OnlyRootCanReplace(status, nextStatus))
            cover = PathOf(names, i);
        steps.push_back(nextStatus);
        folder = std::move(next);
        status = nextStatus;
    }
    if (cover == "/")
        Fail("freeze the view of " + FieldForLine(target) +
                 ": users other than root may change the names in /",
             0);
    return cover;
}

// A folder that users may change, covered in the view by a folder of quorlin's (a tmpfs)
// that holds the way to each target below it and nothing else: what a user renames,
// removes or plants in the shared folder meanwhile does not show in the view.
struct Cover {
    std::string path;
    Reached root;  // the tmpfs, reached through the covered folder's place
};

Cover MakeCover(const std::string& path, const struct stat& live) {
    Reached place = ReachAbsolute(path);
    char options[64];
    std::snprintf(options, sizeof options, "mode=%o,uid=%u,gid=%u",
                  static_cast<unsigned>(live.st_mode & 07777), static_cast<unsigned>(live.st_uid),
                  static_cast<unsigned>(live.st_gid));
    if (mount("quorlin-view", FdPath(place.entry.Get()).c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
              options) != 0)
        Fail("cover " + FieldForLine(path) + " in the view");
    return {path, ReachBelow(place.folder.Get(), place.name, path)};
}

// Makes the way from the cover's root to `target` in the cover, with the owners and modes
// of the live entries (`steps`, as CoverOf gives them), and returns its end: a folder, or a
// file where the snapshot is a file.
Reached MakeWay(const Cover& cover, const std::string& target,
                const std::vector<struct stat>& steps, bool folder) {
    const std::vector<std::string> names = quorlin::PathNames(target.substr(cover.path.size()));
    UniqueFd current(
        open(FdPath(cover.root.entry.Get()).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (size_t i = 0; i < names.size() && current.Valid(); ++i) {
        const struct stat& live = steps[steps.size() - names.size() + i];
        bool last = i + 1 == names.size();
        const char* name = names[i].c_str();
        int made =
            last && !folder
                ? close(openat(current.Get(), name, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600))
                : mkdirat(current.Get(), name, 0700);
        if (made != 0 && errno != EEXIST)
            Fail("make the way to " + FieldForLine(target) + " in the view");
        if (made == 0 &&
            (fchownat(current.Get(), name, live.st_uid, live.st_gid, AT_SYMLINK_NOFOLLOW) != 0 ||
             fchmodat(current.Get(), name, live.st_mode & 07777, 0) != 0))
            Fail("make the way to " + FieldForLine(target) + " in the view");
        if (!last)
            current.Reset(
                openat(current.Get(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    if (!current.Valid())
        Fail("make the way to " + FieldForLine(target) + " in the view");
    return ReachBelow(current.Get(), names.back(), target);
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
    // The folders that users may change on the way to the targets, the highest of each way;
    // a cover below another is part of it.
    std::vector<std::vector<struct stat>> steps(binds.size());
    std::vector<std::pair<std::string, size_t>> wanted;  // cover, and a bind below it
    for (size_t i = 0; i < binds.size(); ++i) {
        std::string cover = enclosing[i] < 0 ? CoverOf(binds[i].target, steps[i]) : "";
        if (!cover.empty())
            wanted.push_back({cover, i});
    }
    std::sort(wanted.begin(), wanted.end());
    std::vector<Cover> covers;
    for (const auto& cover : wanted)
        if (covers.empty() || !AtOrBelow(cover.first, covers.back().path))
            covers.push_back(MakeCover(
                cover.first, steps[cover.second][quorlin::PathNames(cover.first).size() - 1]));
    std::vector<Reached> shown;
    for (size_t i = 0; i < binds.size(); ++i) {
        const std::string& target = binds[i].target;
        auto cover = std::find_if(covers.begin(), covers.end(), [&](const Cover& c) {
            return enclosing[i] < 0 && AtOrBelow(target, c.path);
        });
        const struct stat& frozen = checked[i].snapshot.status;
        // Below an earlier bind the way runs inside a read-only snapshot; in a cover, inside
        // quorlin's own folder; elsewhere, through live folders that only root can change,
        // and it must end at the entry checked.
        Reached place =
            enclosing[i] >= 0       ? ReachBelow(shown[enclosing[i]].entry.Get(),
                                                 target.substr(binds[enclosing[i]].target.size()), target)
            : cover != covers.end() ? MakeWay(*cover, target, steps[i], S_ISDIR(frozen.st_mode))
                                    : ReachAbsolute(target);
        bool bind = !SameEntry(place.status, frozen);
        if (bind && enclosing[i] < 0 && cover == covers.end() &&
            !SameEntry(place.status, checked[i].live))
            Fail("find " + FieldForLine(target) + " where it was", 0);
        if (bind && enclosing[i] >= 0 && !S_ISDIR(place.status.st_mode))
            Fail("find the folder " + FieldForLine(target) + " in the snapshot", 0);
        if (bind && mount(FdPath(checked[i].snapshot.entry.Get()).c_str(),
                          FdPath(place.entry.Get()).c_str(), nullptr, MS_BIND, nullptr) != 0)
            Fail("bind the snapshot over " + FieldForLine(target));
        Reached over = ReachBelow(place.folder.Get(), place.name, target);
        if (!SameEntry(over.status, frozen))
            Fail("find the snapshot bound over " + FieldForLine(target), 0);
        if (bind)
            MakeReadOnly(over, target);
        shown.push_back(std::move(over));
    }
    for (const Cover& cover : covers)
        MakeReadOnly(cover.root, cover.path);
}

// How long what the command left running in its view has to end once it is killed.
const std::chrono::seconds kLeftoverGrace(5);

// The command, once started; and whether quorlin's own stop requests come to this process
// alone (it shares the terminal's process group), so that it passes them on.
volatile std::sig_atomic_t g_command = 0;
volatile std::sig_atomic_t g_passOn = 0;

void PassOn(int signal, siginfo_t* info, void*) {
    // The terminal's signals (sent by the kernel) reach the command itself.
    if (g_passOn && g_command > 0 && info->si_code <= 0)
        kill(static_cast<pid_t>(g_command), signal);
}

// Catches the stop requests to pass them on, but leaves those ignored (as nohup leaves
// SIGHUP) ignored for the command.
void CatchStops() {
    g_passOn = getpgrp() != getpid();
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction before;
        if (sigaction(signal, nullptr, &before) != 0 || before.sa_handler == SIG_IGN)
            continue;
        struct sigaction action = {};
        action.sa_sigaction = PassOn;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

std::string NamespaceOf(const std::string& process) {
    char link[64];
    ssize_t length = readlink(("/proc/" + process + "/ns/mnt").c_str(), link, sizeof link - 1);
    return length > 0 ? std::string(link, static_cast<size_t>(length)) : "";
}

// The processes other than this one in its mount namespace: what the command left running.
std::vector<pid_t> ProcessesInView(const std::string& view) {
    std::vector<pid_t> found;
    DIR* processes = opendir("/proc");
    if (processes == nullptr)
        return found;
    const pid_t self = getpid();
    while (const dirent* entry = readdir(processes)) {
        const char* name = entry->d_name;
        if (name[0] < '1' || name[0] > '9' || std::strspn(name, "0123456789") != strlen(name))
            continue;
        const pid_t pid = static_cast<pid_t>(std::strtol(name, nullptr, 10));
        if (pid != self && NamespaceOf(name) == view)
            found.push_back(pid);
    }
    closedir(processes);
    return found;
}

// Kills what the command left running in the view, and waits (bounded) until it has gone,
// so that nothing holds the snapshots when the backup completes. Says what it did.
void EndLeftovers() {
    const std::string view = NamespaceOf("self");
    if (view.empty())
        return;
    std::vector<pid_t> ended;
    const auto deadline = std::chrono::steady_clock::now() + kLeftoverGrace;
    std::vector<pid_t> left;
    for (;;) {
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        left = ProcessesInView(view);
        if (left.empty() || std::chrono::steady_clock::now() > deadline)
            break;
        for (pid_t pid : left) {
            kill(pid, SIGKILL);
            if (std::find(ended.begin(), ended.end(), pid) == ended.end())
                ended.push_back(pid);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!left.empty())
        std::fprintf(stderr,
                     "quorlin: %zu processes that the command left running in its view did not "
                     "end within %lld s; the snapshots stay readable to them until they end.\n",
                     left.size(), static_cast<long long>(kLeftoverGrace.count()));
    else if (!ended.empty())
        std::fprintf(stderr,
                     "quorlin: ended %zu %s that the command left running in its view, so that "
                     "nothing holds the snapshots.\n",
                     ended.size(), ended.size() == 1 ? "process" : "processes");
}

[[noreturn]] void RunCommandInView(std::vector<std::string>& command) {
    std::vector<char*> argv;
    for (std::string& argument : command)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    std::fprintf(stderr, "quorlin: could not run %s (%s); check the command's name and PATH.\n",
                 QuotedName(command[0]).c_str(), std::strerror(errno));
    _exit(kExitCannotRun);
}

}  // namespace

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
        std::fprintf(stderr,
                     "quorlin: could not %s; the command was not run, and nothing outside it "
                     "changed.\n",
                     Sentence(failure).c_str());
        return kExitCannotRun;
    }
    // Orphans of the command become this process's children, which it can end and reap.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    CatchStops();
    pid_t pid = fork();
    if (pid < 0) {
        std::fprintf(stderr, "quorlin: could not start the command (%s).\n", std::strerror(errno));
        return kExitCannotRun;
    }
    if (pid == 0)
        RunCommandInView(command);
    g_command = pid;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    EndLeftovers();
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : kExitFailed;
}

std::vector<std::string> InPlaceCommand(const std::vector<Bind>& binds,
                                        const std::vector<std::string>& command) {
    std::vector<std::string> arguments = {"/proc/self/exe", kInPlaceChild};
    std::vector<std::string> rest = InPlaceArguments(binds, command);
    arguments.insert(arguments.end(), rest.begin(), rest.end());
    return arguments;
}

}  // namespace qtool
