#include "TraceRelay.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace qtool {
namespace {

// Written by Collect behind the library's lines: the reader has taken in everything
// traced before it once it reads the mark. The library's text never holds this byte.
const char kMark = '\0';
// What waits for the output to take the lines shown: beyond that, it is stalled.
const auto kShowWait = std::chrono::seconds(2);
// What the relay holds for an output that stalls, at most; more is dropped.
const std::size_t kMostHeld = 1 << 20;
const char kDroppedNote[] =
    "quorlin: some trace lines were dropped: standard error did not take them in time\n";

std::string LastLineOf(const std::string& text) {
    std::string last;
    std::string::size_type start = 0;
    while (start < text.size()) {
        std::string::size_type end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            last = line;
    }
    return last;
}

}  // namespace

struct TraceRelay::Shared {
    Shared(std::FILE* stream, bool stamp)
        : shown(stream != nullptr), stamped(stamp), output(stream), lineBegun(TraceClock::now()) {}

    const bool shown;
    const bool stamped;
    RawOutput output;  // the shower's

    std::mutex mutex;
    std::condition_variable changed;
    std::string text;  // traced since the last Collect
    unsigned long marksRead = 0;
    bool ended = false;  // the reader has seen the end of the pipe

    bool returnHeld = false;           // the reader's: a '\r' not yet known to end a line
    bool lineOpen = false;             // the reader's: a line has begun and not ended
    TraceClock::time_point lineBegun;  // when it began (or the one before, between lines)
    std::string line;                  // its text so far
    std::string suffix;                // its step time, when stamped
    std::vector<TracedLine> lines;     // complete and not empty
    std::string pending;               // to show
    std::uint64_t queued = 0;          // bytes put in `pending` (or dropped) so far
    std::uint64_t handled = 0;         // of those, shown (or dropped)
    bool dropped = false;              // some were dropped since the last show
    bool stalled = false;              // the output did not take the last lines in time
    bool showerDone = false;

    // Takes in a chunk that reached the reader `now`: counts the marks, keeps the text and
    // the stamped lines, and returns the bytes meant for the output: without the marks,
    // with the library's "\r\n" line ends as "\n", and with the step times if stamped.
    std::string Take(const char* chunk, std::size_t size, TraceClock::time_point now) {
        std::string out;
        for (std::size_t i = 0; i < size; ++i) {
            char byte = chunk[i];
            if (byte == kMark) {
                ++marksRead;
                continue;
            }
            text += byte;
            if (!lineOpen) {
                lineOpen = true;
                if (stamped && byte != '\r' && byte != '\n')
                    suffix = StepTimeSuffix(now - lineBegun);
                lineBegun = now;
            }
            if (returnHeld && byte != '\n')
                out += '\r';
            returnHeld = byte == '\r';
            if (byte == '\n') {
                EndLine(out);
            } else if (!returnHeld) {
                out += byte;
                line += byte;
            }
        }
        return shown ? out : std::string();
    }

    void EndLine(std::string& out) {
        while (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back({line, lineBegun});
        out += line.empty() ? std::string() : suffix;
        out += '\n';
        suffix.clear();
        line.clear();
        lineOpen = false;
    }

    // Holds `out` for the shower, unless too much is held already.
    void Queue(const std::string& out) {
        queued += out.size();
        if (pending.size() + out.size() <= kMostHeld) {
            pending += out;
        } else {
            dropped = true;
            handled += out.size();
        }
    }

    static void Show(std::shared_ptr<Shared> self) {
        std::unique_lock<std::mutex> lock(self->mutex);
        bool open = true;
        for (;;) {
            self->changed.wait(lock, [&] { return !self->pending.empty() || self->ended; });
            if (self->pending.empty())
                break;
            std::string out;
            out.swap(self->pending);
            bool dropped = self->dropped;
            self->dropped = false;
            lock.unlock();
            // A closed output ends the showing, not the relay.
            open = open && self->output.Write(out.data(), out.size()) &&
                   (!dropped || self->output.Write(kDroppedNote, sizeof kDroppedNote - 1));
            lock.lock();
            self->handled += out.size();
            self->stalled = false;
            self->changed.notify_all();
        }
        self->showerDone = true;
        self->changed.notify_all();
    }
};

TraceRelay::TraceRelay(std::FILE* shown, bool stamped)
    : shared_(std::make_shared<Shared>(shown, stamped)),
      shower_(&Shared::Show, shared_),
      reader_(&TraceRelay::Drain, this) {}

TraceRelay::~TraceRelay() {
    pipe_.CloseWriteEnd();
    reader_.join();
    std::unique_lock<std::mutex> lock(shared_->mutex);
    if (!shared_->stalled)
        shared_->changed.wait_for(lock, kShowWait, [this] { return shared_->showerDone; });
    bool done = shared_->showerDone;
    lock.unlock();
    // A shower stuck on a stalled output keeps what it shares, and ends with the process.
    if (done)
        shower_.join();
    else
        shower_.detach();
}

void TraceRelay::Drain() {
    Shared& shared = *shared_;
    char chunk[4096];
    for (;;) {
        std::size_t size = pipe_.Read(chunk, sizeof chunk);
        if (size == 0)
            break;
        const TraceClock::time_point now = TraceClock::now();
        std::lock_guard<std::mutex> lock(shared.mutex);
        std::string out = shared.Take(chunk, size, now);
        if (shared.shown)
            shared.Queue(out);
        shared.changed.notify_all();
    }
    std::lock_guard<std::mutex> lock(shared.mutex);
    if (shared.shown && shared.returnHeld)
        shared.Queue("\r");
    shared.ended = true;
    shared.changed.notify_all();
}

std::string TraceRelay::Collect() {
    // Not under the lock: the reader may need it to make room in the pipe.
    if (pipe_.Write(&kMark, 1))
        ++marksSent_;
    Shared& shared = *shared_;
    std::unique_lock<std::mutex> lock(shared.mutex);
    shared.changed.wait(lock, [&] { return shared.ended || shared.marksRead >= marksSent_; });
    // Shown before the caller says anything of its own, unless the output stalls.
    std::uint64_t target = shared.queued;
    if (!shared.stalled && !shared.changed.wait_for(lock, kShowWait, [&] {
            return shared.handled >= target || shared.showerDone;
        }))
        shared.stalled = true;
    std::string text;
    text.swap(shared.text);
    return LastLineOf(text);
}

std::vector<TracedLine> TraceRelay::Lines() {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->lines;
}

void TraceRelay::Insert(const std::string& line) {
    const std::string text = line + "\r\n";
    pipe_.Write(text.data(), text.size());
}

}  // namespace qtool
