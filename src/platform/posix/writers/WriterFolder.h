// The writers folder: the executables that the service runs as writers, as root. Only
// what root alone controls is run: the folder, each writer, and for a writer that is a
// link, the way to the file it names.
#ifndef QUORLIN_PLATFORM_POSIX_WRITERS_WRITER_FOLDER_H
#define QUORLIN_PLATFORM_POSIX_WRITERS_WRITER_FOLDER_H

#include "base/posix/UniqueFd.h"

#include <string>
#include <vector>

namespace quorlin {

// The folder of the environment variable QUORLIN_WRITERS_DIR, else /etc/quorlin/writers.d.
std::string WritersFolder();

struct WriterProgram {
    std::string name;     // its name in the folder
    std::string path;     // the file that runs: in the folder, or the target of its link
    UniqueFd file;        // that file, open for reading: the very file that was checked
    bool script = false;  // it starts with "#!": its interpreter reads it through `file`
};

// The writers in `folder`, sorted by name. The folder must be reached from "/" through
// folders that only root can change (TrustedPath.h), belong to root and be writable by no
// one else; so must each writer, a regular file with an execute bit. A writer may be a
// link to such a file reached the same way. Names other than letters, digits, '_' and '-'
// are left out, as run-parts(8) does (editor and package manager leftovers). A folder that
// does not exist holds no writers; every refusal writes a service report line (level 5) with the
// reason, and a refused writer is not run.
std::vector<WriterProgram> FindWriters(const std::string& folder);

}  // namespace quorlin

#endif
