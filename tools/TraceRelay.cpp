#include "TraceRelay.h"

namespace qtool {
namespace {

// Written by Collect behind the library's lines: the reader has taken in everything
// traced before it once it reads the mark. The library's text never holds this byte.
const char kMark = '\0';

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

TraceRelay::TraceRelay(std::FILE* shown) : shown_(shown), reader_(&TraceRelay::Drain, this) {}

TraceRelay::~TraceRelay() {
    pipe_.CloseWriteEnd();
    reader_.join();
}

void TraceRelay::AddShown(const char* chunk, std::size_t size, std::string& out) {
    for (std::size_t i = 0; i < size; ++i) {
        char byte = chunk[i];
        if (byte == kMark)
            continue;
        if (returnHeld_ && byte != '\n')
            out += '\r';
        returnHeld_ = byte == '\r';
        if (!returnHeld_)
            out += byte;
    }
}

void TraceRelay::Drain() {
    char chunk[4096];
    for (;;) {
        std::size_t size = pipe_.Read(chunk, sizeof chunk);
        if (size == 0)
            break;
        if (shown_ != nullptr) {
            std::string out;
            AddShown(chunk, size, out);
            std::fwrite(out.data(), 1, out.size(), shown_);
            std::fflush(shown_);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        for (std::size_t i = 0; i < size; ++i) {
            if (chunk[i] == kMark)
                ++marksRead_;
            else
                text_ += chunk[i];
        }
        progress_.notify_all();
    }
    if (shown_ != nullptr && returnHeld_) {
        std::fputc('\r', shown_);
        std::fflush(shown_);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    progress_.notify_all();
}

std::string TraceRelay::Collect() {
    // Not under the lock: the reader may need it to make room in the pipe.
    if (pipe_.Write(&kMark, 1))
        ++marksSent_;
    std::unique_lock<std::mutex> lock(mutex_);
    progress_.wait(lock, [this] { return ended_ || marksRead_ >= marksSent_; });
    std::string text;
    text.swap(text_);
    return LastLineOf(text);
}

}  // namespace qtool
