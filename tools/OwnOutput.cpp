#include "OwnOutput.h"

#include "CommandLine.h"
#include "Console.h"
#include "Failure.h"
#include "TracePipe.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace qtool {
namespace {

// How long the answer waits for standard error to take it: beyond that it is stalled.
const auto kStallWait = std::chrono::seconds(2);

// Writes `text` to `stream` from a thread of its own, through the stream's descriptor, and
// waits at most kStallWait for it: on an output that stalls, the text is left to that
// thread, which holds no lock that others need and ends with the process.
void WriteWithoutStalling(std::FILE* stream, const std::string& text) {
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        bool done = false;
    };
    std::fflush(stream);
    auto shared = std::make_shared<Shared>();
    auto output = std::make_shared<RawOutput>(stream);
    std::thread writer([shared, output, text] {
        output->Write(text.data(), text.size());
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->done = true;
        shared->changed.notify_all();
    });
    std::unique_lock<std::mutex> lock(shared->mutex);
    if (shared->changed.wait_for(lock, kStallWait, [&] { return shared->done; })) {
        lock.unlock();
        writer.join();
    } else {
        writer.detach();
    }
}

}  // namespace

OwnOutput OwnOutputFor(int outputFd, bool commandRuns) {
    OwnOutput output;
    if (outputFd < 0) {
        output.stream = commandRuns ? stderr : stdout;
        output.required = !commandRuns;
        output.name = commandRuns ? "standard error" : "standard output";
        return output;
    }
    output.stream = WritableDescriptor(outputFd);
    output.required = true;
    output.name = "descriptor " + std::to_string(outputFd);
    if (output.stream == nullptr)
        throw Failure(kExitUsage, "--output-fd " + std::to_string(outputFd) +
                                      ": the descriptor is not open for writing; open it "
                                      "for quorlin, as with 3>FILE in a shell");
    return output;
}

void WriteOwnOutput(const OwnOutput& output, const std::string& text, const std::string& what) {
    if (!output.required)
        return WriteWithoutStalling(output.stream, text);
    errno = 0;
    std::fputs(text.c_str(), output.stream);
    if (std::fflush(output.stream) != 0 || std::ferror(output.stream))
        throw Failure(kExitFailed, "could not write " + what + " to " + output.name + " (" +
                                       std::strerror(errno) +
                                       "); the snapshots were deleted; check where the output "
                                       "goes");
}

std::FILE* OwnOutputStream(const std::vector<std::string>& arguments) {
    const int fd = OutputFdRequested(arguments);
    std::FILE* named = fd >= 0 ? WritableDescriptor(fd) : nullptr;
    if (named != nullptr)
        return named;
    return fd >= 0 || CommandRequested(arguments) ? stderr : stdout;
}

}  // namespace qtool
