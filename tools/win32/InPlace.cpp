#include "InPlace.h"

#include "Failure.h"

#include <cstdio>

namespace qtool {
namespace {

const char kRefused[] =
    "--in-place works on Linux only: Windows gives no process a private view of the "
    "folders; run the command on the snapshot paths instead ({} stands for the first)";

}  // namespace

void CheckInPlaceSupported() { throw Failure(kExitUsage, kRefused); }

std::vector<std::string> InPlaceCommand(const std::vector<Bind>&, const std::vector<std::string>&) {
    throw Failure(kExitUsage, kRefused);
}

int RunInPlaceChild(const std::vector<std::string>&) {
    std::fprintf(stderr, "quorlin: %s.\n", kRefused);
    return kExitUsage;
}

}  // namespace qtool
