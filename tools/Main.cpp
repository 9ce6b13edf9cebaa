// quorlin: the command-line host of the Quorlin library.
#include "Commands.h"
#include "Console.h"
#include "Failure.h"
#include "InPlace.h"
#include "Json.h"
#include "OwnOutput.h"
#include "StopSignal.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

// Lets a waiting console-close handler go once the command has cleaned up, whichever
// way it ends.
struct CleanupDone {
    ~CleanupDone() { qtool::StopHandled(); }
};

int Run(int argc, char** argv) {
    CleanupDone done;
    bool json = false;
    std::vector<std::string> arguments;
    try {
        qtool::PrepareConsole();
        arguments = qtool::Utf8Arguments(argc, argv);
        json = qtool::JsonRequested(arguments);
        std::optional<qtool::Invocation> invocation = qtool::ParseCommandLine(arguments);
        if (!invocation)
            return qtool::kExitSuccess;
        switch (invocation->command) {
            case qtool::Command::kCopy:
                return qtool::RunCopy(*invocation);
            case qtool::Command::kList:
                return qtool::RunList(*invocation);
            case qtool::Command::kDelete:
                return qtool::RunDelete(*invocation);
            default:
                return qtool::RunSnapshot(*invocation);
        }
    } catch (const qtool::Failure& failure) {
        std::fflush(stdout);
        std::string sentence = failure.what();
        if (!sentence.empty() && sentence.back() != '.')
            sentence += '.';
        if (json) {
            std::FILE* answer = qtool::OwnOutputStream(arguments);
            std::fprintf(answer, "%s\n", qtool::FailureJson(failure, sentence).c_str());
            std::fflush(answer);
        }
        std::fprintf(stderr, "quorlin: %s\n", sentence.c_str());
        return failure.ExitCode();
    } catch (const std::exception& error) {
        const std::string sentence =
            std::string("unexpected error (") + error.what() + "); please report it.";
        if (json) {
            std::FILE* answer = qtool::OwnOutputStream(arguments);
            std::fprintf(
                answer, "%s\n",
                qtool::FailureJson(qtool::Failure(qtool::kExitFailed, sentence), sentence).c_str());
            std::fflush(answer);
        }
        std::fprintf(stderr, "quorlin: %s\n", sentence.c_str());
        return qtool::kExitFailed;
    }
}

}  // namespace

int main(int argc, char** argv) {
    // quorlin started again by itself as the command of snapshot --in-place.
    if (argc > 1 && std::string(argv[1]) == qtool::kInPlaceChild)
        return qtool::RunInPlaceChild(std::vector<std::string>(argv + 2, argv + argc));
    return Run(argc, argv);
}
