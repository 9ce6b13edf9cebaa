#include "platform/posix/MountTableCache.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace quorlin {

namespace {

// What the table is relative to: the process's root directory and the mount it lies on.
// Every mount belongs to one namespace and has an identity of its own, so another
// namespace (unshare, setns) or another root (chroot, pivot_root) shows here.
struct Context {
    uint64_t mount = 0;
    dev_t device = 0;
    ino_t inode = 0;

    bool operator!=(const Context& other) const {
        return mount != other.mount || device != other.device || inode != other.inode;
    }
};

int ContextOf(Context& context) {
    struct statx st;
    if (::statx(AT_FDCWD, "/", AT_STATX_DONT_SYNC, STATX_INO | STATX_MNT_ID, &st) != 0)
        return errno;
    if ((st.stx_mask & STATX_MNT_ID) == 0)
        return ENOSYS;
    context.mount = st.stx_mnt_id;
    context.device = makedev(st.stx_dev_major, st.stx_dev_minor);
    context.inode = st.stx_ino;
    return 0;
}

// The identity of the open table, which tells whether a descriptor is still ours.
struct Identity {
    dev_t device = 0;
    ino_t inode = 0;

    bool operator!=(const Identity& other) const {
        return device != other.device || inode != other.inode;
    }
};

int IdentityOfFd(int fd, Identity& identity) {
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return errno;
    identity.device = st.st_dev;
    identity.inode = st.st_ino;
    return 0;
}

class Cache {
public:
    static Cache& Instance() {
        static Cache cache;
        return cache;
    }

    int Current(std::shared_ptr<const MountTableCopy>& table, MountTableCheck check) {
        std::lock_guard<std::mutex> hold(mutex_);
        if (check == MountTableCheck::kFull && fd_ >= 0) {
            Context context;
            Identity now;
            const int error = ContextOf(context);
            if (error != 0)
                return error;
            if (IdentityOfFd(fd_, now) != 0 || now != table_)
                Forget(false);  // someone closed our descriptor: the number is not ours
            else if (context != context_)
                Forget(true);
        }
        if (fd_ >= 0) {
            pollfd notice = {fd_, POLLPRI, 0};
            const int ready = ::poll(&notice, 1, 0);
            if (ready == 0) {
                table = copy_;
                return 0;
            }
            const bool closed = ready > 0 && (notice.revents & POLLNVAL) != 0;
            if (ready < 0 || closed || (notice.revents & (POLLPRI | POLLERR)) == 0)
                Forget(!closed);
        }
        if (fd_ < 0) {
            const int error = Open();
            if (error != 0)
                return error;
        }
        return Read(table);
    }

private:
    Cache() {
        ::pthread_atfork([] { Instance().mutex_.lock(); }, [] { Instance().mutex_.unlock(); },
                         [] { Instance().AfterFork(); });
    }
    ~Cache() { Forget(true); }

    int Open() {
        int error = ContextOf(context_);
        if (error != 0)
            return error;
        fd_ = ::open(kMountTablePath, O_RDONLY | O_CLOEXEC);
        if (fd_ < 0)
            return errno;
        error = IdentityOfFd(fd_, table_);
        if (error != 0)
            Forget(true);
        return error;
    }

    // From the start of the open table (after the notice that made it stale was taken).
    int Read(std::shared_ptr<const MountTableCopy>& table) {
        auto copy = std::make_shared<MountTableCopy>();
        const int error = ReadMountTable(fd_, copy->mounts);
        if (error != 0) {
            Forget(true);
            return error;
        }
        for (const Mount& mount : copy->mounts)
            copy->mountPoints.insert(mount.mountPoint);
        copy->generation = ++generation_;
        copy_ = std::move(copy);
        table = copy_;
        return 0;
    }

    // A child shares the parent's open table, and with it the change notices, which a
    // poll in either takes from both: the child opens its own.
    void AfterFork() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        copy_.reset();
        mutex_.unlock();
    }

    void Forget(bool closeIt) {
        if (closeIt && fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        copy_.reset();
    }

    std::mutex mutex_;
    int fd_ = -1;  // not a UniqueFd: once a host closed it, the number is not ours to close
    Identity table_;
    Context context_;
    std::shared_ptr<const MountTableCopy> copy_;
    uint64_t generation_ = 0;
};

}  // namespace

int CurrentMountTable(std::shared_ptr<const MountTableCopy>& table, MountTableCheck check) {
    return Cache::Instance().Current(table, check);
}

}  // namespace quorlin
