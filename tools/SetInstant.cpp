#include "SetInstant.h"

#include <cstdio>

namespace qtool {
namespace {

std::string Count(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Milliseconds(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", ms);
    return text;
}

}  // namespace

std::string InstantShape(const _Quorlin_Set_Instant& instant) {
    if (instant.wholeSet && instant.windowMilliseconds == 0 && instant.fileSystems != 1)
        return Count(instant.fileSystems, "volume", "volumes") + ", one instant";
    std::string text = Count(instant.fileSystems, "file system", "file systems") + ", ";
    if (instant.oneTransaction == instant.fileSystems)
        text += instant.fileSystems == 1 ? "in one transaction" : "each in one transaction";
    else
        text += std::to_string(instant.oneTransaction) + " of them in one transaction";
    if (instant.tries > 1)
        text += ", taken " + std::to_string(instant.tries) + " times";
    return text;
}

std::string InstantText(const _Quorlin_Set_Instant& instant) {
    return InstantShape(instant) + "; window " + Milliseconds(instant.windowMilliseconds) + " ms";
}

std::string InstantJson(const _Quorlin_Set_Instant& instant) {
    return "{\"file_systems\":" + std::to_string(instant.fileSystems) +
           ",\"one_transaction\":" + std::to_string(instant.oneTransaction) +
           ",\"whole_set\":" + (instant.wholeSet ? "true" : "false") +
           ",\"tries\":" + std::to_string(instant.tries) +
           ",\"window_ms\":" + Milliseconds(instant.windowMilliseconds) + "}";
}

Failure TooManyVolumes(size_t count, bool nested) {
    return Failure(
        kExitUsage,
        std::string(nested ? "the paths and the volumes nested below them" : "the paths") +
            " lie on " + std::to_string(count) + " volumes, more than the " +
            std::to_string(VolumesPerSet()) + " that one snapshot set can hold; " +
            (nested ? "snapshot fewer paths or smaller parts of the tree at a time, "
                      "or keep to each path's own volume with --one-file-system"
                    : "snapshot fewer paths at a time"));
}

void CheckVolumeCount(const std::vector<std::string>& volumes, size_t paths) {
    if (volumes.size() <= VolumesPerSet())
        return;  // no more volumes than names
    const size_t count = DistinctVolumes(volumes);
    if (count > VolumesPerSet())
        throw TooManyVolumes(count, volumes.size() > paths);
}

}  // namespace qtool
