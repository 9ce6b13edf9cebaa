// The progress bar of `copy`: bytes, files and rate, on standard error.
#ifndef QUORLIN_TOOL_PROGRESS_H
#define QUORLIN_TOOL_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <string>

namespace qtool {

// "1.5 MiB", "300 B".
std::string HumanBytes(std::uint64_t bytes);
// The bar's text for the counts so far; `seconds` since the start gives the rate.
std::string ProgressLine(std::uint64_t bytes, std::uint64_t totalBytes, std::uint64_t files,
                         std::uint64_t totalFiles, double seconds);

class Progress {
public:
    // Draws nothing unless `shown` (standard error is a terminal).
    Progress(bool shown, std::uint64_t totalBytes, std::uint64_t totalFiles);
    void AddBytes(std::uint64_t bytes);
    void AddFile();
    // Shows a line of its own on standard error; the bar comes back below it.
    void Say(const std::string& line);
    // Draws the last state and ends the line.
    void Finish();

private:
    void Draw(bool always);

    bool shown_;
    std::uint64_t totalBytes_;
    std::uint64_t totalFiles_;
    std::uint64_t bytes_ = 0;
    std::uint64_t files_ = 0;
    std::size_t drawnWidth_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point drawn_;
};

}  // namespace qtool

#endif  // QUORLIN_TOOL_PROGRESS_H
