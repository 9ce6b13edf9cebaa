#include "FileSystem.h"

#include <atomic>
#include <cstdio>
#include <random>

namespace qtool {

std::string TemporaryName() {
    // Random per process, so that two copies into one folder rarely meet; a name that is
    // taken anyway is refused when it is created, and the caller asks for another.
    static const unsigned long long kProcess =
        (static_cast<unsigned long long>(std::random_device()()) << 32) ^ std::random_device()();
    static std::atomic<unsigned long> counter{0};
    char name[64];
    std::snprintf(name, sizeof name, ".quorlin-%016llx-%lu", kProcess, ++counter);
    return name;
}

}  // namespace qtool
