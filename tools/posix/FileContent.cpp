#include "posix/FileContent.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace qtool {

using quorlin::UniqueFd;
namespace {

// At most this many files, and about this many bytes of their content, are read ahead.
const std::size_t kAheadFiles = 32;
const std::uint64_t kAheadBytes = 8 << 20;
// The files of all folders open ahead at once, however deep the walk.
std::size_t g_openedAhead = 0;

const int kReadFlags = O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;

// Between two words to the counter, which shows progress and may stop the copy.
const off_t kPiece = 16 << 20;
const size_t kBufferSize = 1 << 20;

// A file system that refuses a way of copying for one file refuses it for the next: the
// copy stops asking. (EINVAL may concern one file only, and does not count.)
bool g_cloneRefused = false;
bool g_rangeCopyRefused = false;

bool RefusesTheCall(int error) {
    return error == EXDEV || error == EOPNOTSUPP || error == ENOTTY || error == ENOSYS ||
           error == EINVAL;
}

// Copies [at, at + length) with read and write; the file has at least that much.
off_t ReadAndWrite(int from, int to, off_t at, off_t length) {
    static std::vector<char> buffer(kBufferSize);
    off_t done = 0;
    while (done < length) {
        size_t want = static_cast<size_t>(std::min<off_t>(length - done, kBufferSize));
        ssize_t got = pread(from, buffer.data(), want, at + done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            FailWithErrno(CopyError::kSource, "read");
        if (got == 0)
            break;
        for (ssize_t put = 0; put < got;) {
            ssize_t n =
                pwrite(to, buffer.data() + put, static_cast<size_t>(got - put), at + done + put);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                FailWithErrno(CopyError::kTarget, "write");
            put += n;
        }
        done += got;
    }
    return done;
}

// Copies the data range [start, end) piece by piece.
void CopyRange(int from, int to, off_t start, off_t end, const ByteCounter& counter) {
    bool rangeCopy = !g_rangeCopyRefused;
    for (off_t at = start; at < end;) {
        off_t length = std::min(end - at, kPiece);
        off_t done = -1;
        if (rangeCopy) {
            loff_t in = at;
            loff_t out = at;
            ssize_t n = copy_file_range(from, &in, to, &out, static_cast<size_t>(length), 0);
            if (n >= 0) {
                done = n;
            } else if (RefusesTheCall(errno)) {
                g_rangeCopyRefused = errno != EINVAL;
                rangeCopy = false;
            } else if (errno != EINTR) {
                FailWithErrno(CopyError::kTarget, "write");
            }
        }
        if (!rangeCopy)
            done = ReadAndWrite(from, to, at, length);
        if (done == 0)
            return;  // the file ended early; the size is set afterwards
        if (done > 0) {
            at += done;
            counter(static_cast<std::uint64_t>(done));
        }
    }
}

// Copies the data ranges that SEEK_DATA and SEEK_HOLE find, counting the holes skipped.
void CopyDataRanges(int from, int to, off_t size, const ByteCounter& counter) {
    for (off_t at = 0; at < size;) {
        off_t data = lseek(from, at, SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            data = size;  // a hole to the end
        else if (data < 0)
            data = at;  // holes cannot be found here: copy the rest whole
        off_t hole = data < size ? lseek(from, data, SEEK_HOLE) : size;
        if (hole < 0 || hole > size)
            hole = size;
        if (data > at)
            counter(static_cast<std::uint64_t>(data - at));
        CopyRange(from, to, data, hole, counter);
        at = hole;
    }
}

}  // namespace

void CopyContent(int from, int to, const struct stat& status, const ByteCounter& counter) {
    const off_t size = status.st_size;
    if (size == 0)
        return;
    if (!g_cloneRefused) {
        if (ioctl(to, FICLONE, from) == 0) {
            counter(static_cast<std::uint64_t>(size));
            return;
        }
        if (!RefusesTheCall(errno))
            FailWithErrno(CopyError::kTarget, "write");
        g_cloneRefused = errno != EINVAL;
    }
    posix_fadvise(from, 0, 0, POSIX_FADV_SEQUENTIAL);
    // Fewer blocks than the size holds: holes (or compression, which SEEK_DATA sees through).
    bool sparse = static_cast<off_t>(status.st_blocks) * 512 < size;
    if (sparse)
        CopyDataRanges(from, to, size, counter);
    else
        CopyRange(from, to, 0, size, counter);
    if (sparse && ftruncate(to, size) != 0)
        FailWithErrno(CopyError::kTarget, "write");
    // The copy goes out to the disk now, while the next files are read, rather than all
    // in the sync at the end; that sync still makes it durable.
    sync_file_range(to, 0, 0, SYNC_FILE_RANGE_WRITE);
    // The snapshot's pages serve no one once copied (the snapshot goes when the copy
    // ends): they leave the cache now, not in one go when the snapshot is deleted.
    posix_fadvise(from, 0, 0, POSIX_FADV_DONTNEED);
}

ReadAhead::~ReadAhead() { g_openedAhead -= opened_.size(); }

void ReadAhead::Plan(const std::vector<Entry>& entries) {
    planned_.clear();
    for (const Entry& entry : entries)
        planned_.push_back({entry.name.native(), entry.kind, entry.size});
    next_ = 0;
    g_openedAhead -= opened_.size();
    opened_.clear();
    asked_ = 0;
}

UniqueFd ReadAhead::Open(int folder, const std::string& name) {
    UniqueFd fd;
    auto opened = std::find_if(opened_.begin(), opened_.end(),
                               [&](const Opened& ahead) { return ahead.name == name; });
    if (opened != opened_.end()) {
        fd = std::move(opened->fd);
        // The files before it are not copied now (more names of a file copied already).
        for (auto passed = opened_.begin(); passed != opened + 1; ++passed)
            asked_ -= passed->asked;
        g_openedAhead -= static_cast<std::size_t>(opened + 1 - opened_.begin());
        opened_.erase(opened_.begin(), opened + 1);
    } else {
        for (std::size_t i = next_; i < planned_.size(); ++i)
            if (planned_[i].name == name) {
                next_ = i + 1;
                g_openedAhead -= opened_.size();
                opened_.clear();
                asked_ = 0;
                break;
            }
        fd = UniqueFd(openat(folder, name.c_str(), kReadFlags));
    }
    int error = errno;
    Fill(folder);
    errno = error;
    return fd;
}

void ReadAhead::Fill(int folder) {
    while (next_ < planned_.size() && opened_.size() < kAheadFiles && asked_ < kAheadBytes &&
           g_openedAhead < kAheadFiles) {
        const Planned& file = planned_[next_];
        if (file.kind == EntryKind::kFolder)
            return;
        ++next_;
        if (file.kind != EntryKind::kFile || file.size == 0)
            continue;
        // One that cannot be opened now is opened again when it is copied, which then
        // says why it cannot be read.
        UniqueFd fd(openat(folder, file.name.c_str(), kReadFlags));
        if (!fd.Valid())
            return;
        // A clone reads nothing: the content is asked for only once clones were refused.
        std::uint64_t asked = std::min(file.size, kAheadBytes);
        if (g_cloneRefused)
            posix_fadvise(fd.Get(), 0, static_cast<off_t>(asked), POSIX_FADV_WILLNEED);
        opened_.push_back({file.name, asked, std::move(fd)});
        asked_ += asked;
        ++g_openedAhead;
    }
}

void FailWithErrno(CopyError::Side side, const std::string& action) {
    throw CopyError(side, action, std::strerror(errno));
}

}  // namespace qtool
