// The trace relay with an output that takes nothing: the library's writes must never wait.
#include "ToolProcess.h"
#include "TraceRelay.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace tooltest {
namespace {

TEST(TraceRelayStall, NeverHoldsUpTheLibraryWhenTheOutputStalls) {
    // A pipe that is full and that no one reads, as standard error can be.
    int ends[2];
    ASSERT_TRUE(StalledPipe(ends));
    std::FILE* stalled = fdopen(ends[1], "w");
    ASSERT_NE(stalled, nullptr);
    std::atomic<bool> written{false};
    {
        qtool::TraceRelay relay(stalled);
        // Far more than the pipe to the relay holds, written as the library writes.
        int console = static_cast<int>(reinterpret_cast<std::intptr_t>(relay.Console()));
        std::thread library([&] {
            const std::string line = std::string(98, 'x') + "\r\n";
            for (int i = 0; i < 20000; ++i)
                if (write(console, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
                    return;
            written = true;
        });
        for (int i = 0; i < 2000 && !written; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_TRUE(written) << "the library's writes were held up";
        if (!written) {
            // Let it go, so that the test ends.
            char drain[65536];
            while (!written && read(ends[0], drain, sizeof drain) > 0) {
            }
        }
        library.join();
        EXPECT_EQ(relay.Collect(), std::string(98, 'x'));
    }
    std::fclose(stalled);
    // A relay thread may still wait on the pipe; it gets EPIPE, not the signal.
    std::signal(SIGPIPE, SIG_IGN);
    close(ends[0]);
}

}  // namespace
}  // namespace tooltest
