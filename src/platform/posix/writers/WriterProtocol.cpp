#include "platform/posix/writers/WriterProtocol.h"

#include <algorithm>

namespace quorlin {

namespace {

// The longest writer name; a longer one is cut.
const size_t kMaximumNameLength = 64;

// Each phase's name, and the word that closes it (abort is not answered); in the order of
// WriterPhase.
struct PhaseWords {
    const char* name;
    const char* done;
};
const PhaseWords kPhaseWords[] = {{"identify", "ready"},     {"prepare", "prepared"},
                                  {"freeze", "frozen"},      {"thaw", "thawed"},
                                  {"complete", "completed"}, {"abort", nullptr}};

const PhaseWords& WordsOf(WriterPhase phase) { return kPhaseWords[static_cast<int>(phase)]; }

// Control characters would break the trace line that shows the text.
std::string Printable(const std::string& text) {
    std::string printable = text;
    for (char& c : printable)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return printable;
}

WriterAnswer Answer(WriterAnswer::Kind kind, std::string text) {
    WriterAnswer answer;
    answer.kind = kind;
    answer.text = std::move(text);
    return answer;
}

WriterAnswer Malformed(const std::string& line, const char* why) {
    const size_t shown = 80;
    std::string quoted = Printable(line.substr(0, shown));
    if (line.size() > shown)
        quoted += "...";
    return Answer(WriterAnswer::kMalformed, std::string(why) + " \"" + quoted + "\"");
}

}  // namespace

const char* PhaseName(WriterPhase phase) { return WordsOf(phase).name; }

std::string CommandLine(WriterPhase phase, bool flag) {
    switch (phase) {
        case WriterPhase::kIdentify:
            return "identify " + std::to_string(kWriterProtocolVersion);
        case WriterPhase::kPrepare:
            return flag ? "prepare incremental" : "prepare full";
        case WriterPhase::kComplete:
            return flag ? "complete succeeded" : "complete failed";
        default:
            return PhaseName(phase);
    }
}

WriterAnswer ParseAnswer(WriterPhase phase, const std::string& line) {
    const size_t space = line.find(' ');
    const std::string word = line.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
    if (word == "error" || word == "retry") {
        const std::string text = rest.empty() ? "no reason given" : Printable(rest);
        return Answer(word == "error" ? WriterAnswer::kError : WriterAnswer::kRetry, text);
    }
    if (phase == WriterPhase::kIdentify && word == "name") {
        if (rest.empty())
            return Malformed(line, "an empty name in");
        return Answer(WriterAnswer::kName, Printable(rest.substr(0, kMaximumNameLength)));
    }
    if (phase == WriterPhase::kIdentify && word == "path") {
        if (rest.empty() || rest[0] != '/' || rest.find('\0') != std::string::npos)
            return Malformed(line, "a path that is not absolute in");
        return Answer(WriterAnswer::kPath, rest);
    }
    if (WordsOf(phase).done != nullptr && line == WordsOf(phase).done)
        return Answer(WriterAnswer::kDone, std::string());
    return Malformed(line, "the answer");
}

void LineBuffer::Append(const char* bytes, size_t size) {
    const char* end = bytes + size;
    if (cutting_) {
        const char* newline = std::find(bytes, end, '\n');
        if (newline == end)
            return;
        cutting_ = false;
        bytes = newline + 1;
    }
    pending_.append(bytes, end);
}

bool LineBuffer::Next(std::string& line, bool& tooLong) {
    const size_t newline = pending_.find('\n');
    if (newline == std::string::npos) {
        if (pending_.size() <= limit_)
            return false;
        line = pending_.substr(0, limit_);
        tooLong = true;
        pending_.clear();
        cutting_ = true;
        return true;
    }
    size_t length = newline;
    if (length > 0 && pending_[length - 1] == '\r')
        --length;
    tooLong = length > limit_;
    line = pending_.substr(0, tooLong ? limit_ : length);
    pending_.erase(0, newline + 1);
    return true;
}

bool LineBuffer::Rest(std::string& line, bool& tooLong) {
    if (Next(line, tooLong))
        return true;
    if (pending_.empty())
        return false;
    line.swap(pending_);
    pending_.clear();
    tooLong = false;
    return true;
}

}  // namespace quorlin
