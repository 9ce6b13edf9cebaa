// The content of a file, copied as fast as the file systems allow.
#ifndef QUORLIN_TOOL_POSIX_FILE_CONTENT_H
#define QUORLIN_TOOL_POSIX_FILE_CONTENT_H

#include "FileSystem.h"
#include "base/posix/UniqueFd.h"

#include <deque>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace qtool {

// Throws the copy's failure to `action` on `side`, for the reason that errno holds.
[[noreturn]] void FailWithErrno(CopyError::Side side, const std::string& action);

// Copies the content of the regular file `from`, whose status is `status`, into the
// empty file `to`: as a clone of its extents where the file system allows (btrfs: the
// copy shares them, holes and all), else range by range with copy_file_range, or read
// and write where that is refused; the holes of a sparse file stay holes. A copy that is
// not a clone is sent on to the disk (not waited for), and `from` leaves the cache. Tells
// `counter` of each piece, holes included. Throws CopyError.
void CopyContent(int from, int to, const struct stat& status, const ByteCounter& counter);

// The files of one folder opened a few ahead of their copy, with their content asked of
// the disk (POSIX_FADV_WILLNEED) once the destination refused clones, so that the disk
// reads the next files while one is copied rather than one file after the other. The
// window (32 files, about 8 MB of their content) stops at the next folder of the
// listing, so that a folder that is copied holds none of its parent's files open.
class ReadAhead {
public:
    ReadAhead() = default;
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The entries of the folder, in the order in which they are copied.
    void Plan(const std::vector<Entry>& entries);
    // The file `name` of the open folder `folder`, opened for reading: ahead, or now when
    // it was not (a negative descriptor with errno set when that fails). Asks for the
    // files that follow it.
    quorlin::UniqueFd Open(int folder, const std::string& name);

private:
    struct Planned {
        std::string name;
        EntryKind kind;
        std::uint64_t size;
    };
    struct Opened {
        std::string name;
        std::uint64_t asked;
        quorlin::UniqueFd fd;
    };
    void Fill(int folder);

    std::vector<Planned> planned_;
    std::size_t next_ = 0;  // the first of `planned_` not yet opened or passed
    std::deque<Opened> opened_;
    std::uint64_t asked_ = 0;  // bytes of `opened_` in the window
};

}  // namespace qtool

#endif  // QUORLIN_TOOL_POSIX_FILE_CONTENT_H
