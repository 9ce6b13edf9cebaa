#include "Progress.h"

#include <cstdio>

namespace qtool {
namespace {

const int kBarWidth = 24;
const auto kRedrawInterval = std::chrono::milliseconds(100);

}  // namespace

std::string HumanBytes(std::uint64_t bytes) {
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024 && unit < 5) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    if (unit == 0)
        std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
    else
        std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

std::string ProgressLine(std::uint64_t bytes, std::uint64_t totalBytes, std::uint64_t files,
                         std::uint64_t totalFiles, double seconds) {
    double fraction = totalBytes == 0
                          ? (files >= totalFiles ? 1.0 : 0.0)
                          : static_cast<double>(bytes) / static_cast<double>(totalBytes);
    if (fraction > 1)
        fraction = 1;
    int filled = static_cast<int>(fraction * kBarWidth);
    std::string bar = "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "]";
    double rate = seconds > 0 ? static_cast<double>(bytes) / seconds : 0;
    char text[160];
    std::snprintf(text, sizeof text, "%s %3d%%  %s / %s  %llu/%llu files  %s/s", bar.c_str(),
                  static_cast<int>(fraction * 100), HumanBytes(bytes).c_str(),
                  HumanBytes(totalBytes).c_str(), static_cast<unsigned long long>(files),
                  static_cast<unsigned long long>(totalFiles),
                  HumanBytes(static_cast<std::uint64_t>(rate)).c_str());
    return text;
}

Progress::Progress(bool shown, std::uint64_t totalBytes, std::uint64_t totalFiles)
    : shown_(shown),
      totalBytes_(totalBytes),
      totalFiles_(totalFiles),
      start_(std::chrono::steady_clock::now()),
      drawn_(start_) {}

void Progress::AddBytes(std::uint64_t bytes) {
    bytes_ += bytes;
    Draw(false);
}

void Progress::AddFile() {
    ++files_;
    Draw(false);
}

void Progress::Say(const std::string& line) {
    if (shown_ && drawnWidth_ > 0)
        std::fprintf(stderr, "\r%*s\r", static_cast<int>(drawnWidth_), "");
    drawnWidth_ = 0;
    std::fprintf(stderr, "%s\n", line.c_str());
}

void Progress::Finish() {
    Draw(true);
    if (shown_)
        std::fputc('\n', stderr);
}

void Progress::Draw(bool always) {
    if (!shown_)
        return;
    auto now = std::chrono::steady_clock::now();
    if (!always && now - drawn_ < kRedrawInterval)
        return;
    drawn_ = now;
    std::string line = ProgressLine(bytes_, totalBytes_, files_, totalFiles_,
                                    std::chrono::duration<double>(now - start_).count());
    // Blanks wipe what a longer earlier line left.
    std::size_t width = line.size();
    if (width < drawnWidth_)
        line.append(drawnWidth_ - width, ' ');
    drawnWidth_ = width;
    std::fprintf(stderr, "\r%s", line.c_str());
    std::fflush(stderr);
}

}  // namespace qtool
