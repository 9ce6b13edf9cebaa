// One writer of a backup: its process and what the service knows of it.
#ifndef QUORLIN_PLATFORM_POSIX_WRITERS_WRITER_H
#define QUORLIN_PLATFORM_POSIX_WRITERS_WRITER_H

#include "platform/posix/writers/WriterFolder.h"
#include "platform/posix/writers/WriterProcess.h"
#include "platform/posix/writers/WriterProtocol.h"

#include <string>
#include <vector>

namespace quorlin {

struct Writer {
    WriterProgram program;
    WriterProcess process;
    std::string name;                // its own name once it gave one, else its file's
    std::vector<std::string> paths;  // the paths it cares about
    LineBuffer output;               // its answers, as they come
    LineBuffer errors{512};          // its standard error, traced line by line
    int errorLines = 0;              // lines of its standard error traced so far
    bool takingPart = false;         // one of its paths lies on a volume of the set
    bool holding = false;            // told to freeze and not yet told to thaw
    bool freezeUnanswered = false;   // told to freeze, its `frozen` not read yet
    bool failed = false;             // counted as failed
};

}  // namespace quorlin

#endif
