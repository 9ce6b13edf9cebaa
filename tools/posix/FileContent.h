// The content of a file, copied as fast as the file systems allow.
#ifndef QUORLIN_TOOL_POSIX_FILE_CONTENT_H
#define QUORLIN_TOOL_POSIX_FILE_CONTENT_H

#include "FileSystem.h"

#include <sys/stat.h>

namespace qtool {

// Copies the content of the regular file `from`, whose status is `status`, into the
// empty file `to`: as a clone of its extents where the file system allows (btrfs: the
// copy shares them, holes and all), else range by range with copy_file_range, or read
// and write where that is refused; the holes of a sparse file stay holes. Tells `counter`
// of each piece, holes included. Throws CopyError.
void CopyContent(int from, int to, const struct stat& status, const ByteCounter& counter);

}  // namespace qtool

#endif  // QUORLIN_TOOL_POSIX_FILE_CONTENT_H
