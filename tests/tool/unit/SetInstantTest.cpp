// What the command says of a snapshot set, and the volume count it refuses before any work.
#include "Failure.h"
#include "SetInstant.h"

#include <gtest/gtest.h>

namespace qtool {
namespace {

TEST(SetInstant, TheSetIsDescribedInWordsAndInJson) {
    const struct {
        _Quorlin_Set_Instant instant;
        const char* text;
        const char* json;
    } cases[] = {
        {{1, 1, 1, 1, 2.314},
         "1 file system, in one transaction; window 2.31 ms",
         "{\"file_systems\":1,\"one_transaction\":1,\"whole_set\":true,\"tries\":1,"
         "\"window_ms\":2.31}"},
        {{2, 2, 0, 1, 4.1},
         "2 file systems, each in one transaction; window 4.10 ms",
         "{\"file_systems\":2,\"one_transaction\":2,\"whole_set\":false,\"tries\":1,"
         "\"window_ms\":4.10}"},
        {{2, 1, 0, 4, 9},
         "2 file systems, 1 of them in one transaction, taken 4 times; "
         "window 9.00 ms",
         "{\"file_systems\":2,\"one_transaction\":1,\"whole_set\":false,\"tries\":4,"
         "\"window_ms\":9.00}"},
        {{3, 3, 1, 1, 0},
         "3 volumes, one instant; window 0.00 ms",
         "{\"file_systems\":3,\"one_transaction\":3,\"whole_set\":true,\"tries\":1,"
         "\"window_ms\":0.00}"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(InstantText(c.instant), c.text);
        EXPECT_EQ(InstantJson(c.instant), c.json);
    }
}

TEST(SetInstant, MoreVolumesThanASetHoldsAreRefusedWithTheCountAndTheWayOut) {
    const Failure failure = TooManyVolumes(VolumesPerSet() + 1, true);
    EXPECT_EQ(failure.ExitCode(), kExitUsage);
    EXPECT_EQ(std::string(failure.what()),
              "the paths and the volumes nested below them lie on " +
                  std::to_string(VolumesPerSet() + 1) + " volumes, more than the " +
                  std::to_string(VolumesPerSet()) +
                  " that one snapshot set can hold; snapshot fewer paths or smaller parts of the "
                  "tree at a time, or keep to each path's own volume with --one-file-system");
    // Many paths on one volume are one volume.
    EXPECT_NO_THROW(CheckVolumeCount(std::vector<std::string>(VolumesPerSet() * 2, "."), 1));
}

}  // namespace
}  // namespace qtool
