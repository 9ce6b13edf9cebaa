// The lines that the service and a writer exchange over the writer's standard input and
// output (README: "Writers on Linux"). Every command gets one closing answer: its own
// word, or `error TEXT` / `retry TEXT`; `identify` first gets `name` and `path` lines.
#ifndef QUORLIN_PLATFORM_POSIX_WRITERS_WRITER_PROTOCOL_H
#define QUORLIN_PLATFORM_POSIX_WRITERS_WRITER_PROTOCOL_H

#include <cstddef>
#include <string>

namespace quorlin {

// The version that the first line, `identify 1`, names.
const int kWriterProtocolVersion = 1;
// The longest answer line a writer may send, line end excluded.
const size_t kMaximumAnswerLength = 4096;

enum class WriterPhase { kIdentify, kPrepare, kFreeze, kThaw, kComplete, kAbort };

// The phase's name as trace lines show it ("identify", "prepare", ...).
const char* PhaseName(WriterPhase phase);
// The line (without its line end) that starts the phase: "identify 1", "prepare full" or
// "prepare incremental", "freeze", "thaw", "complete succeeded" or "complete failed",
// "abort". `flag` is incremental for prepare and succeeded for complete.
std::string CommandLine(WriterPhase phase, bool flag = false);

struct WriterAnswer {
    enum Kind {
        kDone,       // the phase's own word: ready, prepared, frozen, thawed, completed
        kName,       // name NAME (identify only)
        kPath,       // path /ABSOLUTE/PATH (identify only)
        kError,      // error TEXT: the writer failed, trying again will not help
        kRetry,      // retry TEXT: the writer failed, the backup may succeed if tried again
        kMalformed,  // anything else; `text` says what is wrong
    };
    Kind kind = kMalformed;
    std::string text;  // the name, path, error text or what is malformed
};

// Reads one answer line (without its line end) given while `phase` runs.
WriterAnswer ParseAnswer(WriterPhase phase, const std::string& line);

// Collects bytes read from a pipe and hands them out as lines without their line ends
// ('\n', and a '\r' before it). A line longer than `limit` is cut: its first `limit`
// bytes come out as a line marked `tooLong`, the rest up to its end is dropped.
class LineBuffer {
public:
    explicit LineBuffer(size_t limit = kMaximumAnswerLength) : limit_(limit) {}

    void Append(const char* bytes, size_t size);
    // The next whole line; false when none is complete yet.
    bool Next(std::string& line, bool& tooLong);
    // What is left after the input ended: an unterminated last line; false when none.
    bool Rest(std::string& line, bool& tooLong);

private:
    size_t limit_;
    std::string pending_;
    bool cutting_ = false;  // dropping the rest of a line that was too long
};

}  // namespace quorlin

#endif
