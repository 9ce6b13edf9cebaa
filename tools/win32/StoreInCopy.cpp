#include "StoreInCopy.h"

namespace qtool {

// Windows keeps shadow copies away from the volumes' folders: a copy never holds them.
std::optional<std::filesystem::path> StoreInCopy(const std::filesystem::path&) {
    return std::nullopt;
}

}  // namespace qtool
