// What a snapshot set is, in the command's words: for -vv, --timings and --json.
#ifndef QUORLIN_TOOL_SET_INSTANT_H
#define QUORLIN_TOOL_SET_INSTANT_H

#include "Failure.h"
#include "Quorlin.h"

#include <string>
#include <vector>

namespace qtool {

// "1 file system, in one transaction", "2 file systems, 1 of them in one transaction, taken
// 4 times", "3 volumes, one instant" (VSS).
std::string InstantShape(const _Quorlin_Set_Instant& instant);
// InstantShape and "; window 2.31 ms".
std::string InstantText(const _Quorlin_Set_Instant& instant);

// {"file_systems":N,"one_transaction":N,"whole_set":B,"tries":N,"window_ms":X}
std::string InstantJson(const _Quorlin_Set_Instant& instant);

// How many volumes one set can hold here, and how many distinct volumes `paths` lie on.
size_t VolumesPerSet();
size_t DistinctVolumes(const std::vector<std::string>& paths);

// Throws Failure, before any work, when `volumes` (the PATHs, then the nested volumes that
// join them) lie on more volumes than one set can hold.
void CheckVolumeCount(const std::vector<std::string>& volumes, size_t paths);
// That failure, for `count` volumes, with `nested` ones among them.
Failure TooManyVolumes(size_t count, bool nested);

}  // namespace qtool

#endif  // QUORLIN_TOOL_SET_INSTANT_H
