#include "NestedVolumes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace qtool {
namespace {

TEST(NestedPlan, VolumesJoinAndEverythingElseIsNamedOnce) {
    using Kind = NestedItem::Kind;
    const NestedItem deeper{"/v/data/sub/deeper", Kind::kSubvolume, "btrfs"};
    const NestedItem sub{"/v/data/sub", Kind::kSubvolume, "btrfs"};
    const NestedItem tmp{"/v/data/tmp", Kind::kOtherMount, "tmpfs"};
    const NestedItem belowTmp{"/v/data/tmp/inner", Kind::kOtherMount, "ext4"};
    const NestedItem bound{"/v/data/bound", Kind::kFolderBind, "btrfs"};
    const NestedItem mounted{"/v/data/mounted", Kind::kBtrfsMount, "btrfs"};
    const NestedItem readOnly{"/v/data/.snapshots/1/snapshot", Kind::kReadOnly, "btrfs"};
    const NestedItem belowReadOnly{"/v/data/.snapshots/1/snapshot/sub", Kind::kSubvolume, "btrfs"};
    const std::string tmpLine =
        "/v/data/tmp is left out: a tmpfs file system is mounted there, which the snapshot "
        "does not hold";
    struct Case {
        const char* what;
        std::string source;
        std::vector<NestedItem> items;
        bool oneFileSystem;
        std::vector<std::string> included;
        std::vector<std::string> warnings;
    };
    const std::vector<Case> cases = {
        {"subvolumes join, parents first",
         "/v/data",
         {deeper, sub},
         false,
         {"/v/data/sub", "/v/data/sub/deeper"},
         {}},
        {"a btrfs volume mounted below joins",
         "/v/data",
         {mounted},
         false,
         {"/v/data/mounted"},
         {}},
        {"another file system is named, and what lies below it is hidden with it",
         "/v/data",
         {belowTmp, tmp, sub},
         false,
         {"/v/data/sub"},
         {tmpLine}},
        {"a folder bound from elsewhere is named",
         "/v/data",
         {bound},
         false,
         {},
         {"/v/data/bound is left out: a folder from elsewhere is bound there, which the "
          "snapshot does not hold"}},
        {"one file system names the outermost volumes only",
         "/v/data",
         {deeper, sub, mounted},
         true,
         {},
         {"/v/data/mounted is left out: a btrfs volume is mounted there (only the PATH's own "
          "volume is taken)",
          "/v/data/sub is left out: a btrfs subvolume, another volume (only the PATH's own "
          "volume is taken)"}},
        {"a subvolume mounted at its own place joins once",
         "/v/data",
         {sub, {"/v/data/sub", Kind::kBtrfsMount, "btrfs"}},
         false,
         {"/v/data/sub"},
         {}},
        {"the source itself, a sibling sharing its prefix and what lies above are not below",
         "/v/data",
         {{"/v/data", Kind::kSubvolume, "btrfs"},
          {"/v/database", Kind::kOtherMount, "tmpfs"},
          {"/v", Kind::kOtherMount, "tmpfs"}},
         false,
         {},
         {}},
        {"a read-only subvolume never joins, and what lies below it is hidden with it",
         "/v/data",
         {belowReadOnly, readOnly, sub},
         false,
         {"/v/data/sub"},
         {"/v/data/.snapshots/1/snapshot is left out: a read-only btrfs subvolume (a snapshot, "
          "already frozen), which the view and the copy show as an empty folder"}},
        {"a subvolume that moved away or could not be opened is named",
         "/v/data",
         {{"/v/data/gone", Kind::kVanished, "btrfs"},
          {"/v/data/deep", Kind::kUnopened, "btrfs", "", EMFILE}},
         false,
         {},
         {"/v/data/deep is left out: the btrfs subvolume there could not be opened (" +
              std::string(std::strerror(EMFILE)) + ")",
          "/v/data/gone is left out: the btrfs subvolume there moved or vanished while quorlin "
          "looked at it"}},
        {"a name that would forge a line of its own is quoted",
         "/v/data",
         {{"/v/data/x\rquorlin: \x1b[2Kall done\n", Kind::kOtherMount, "tmpfs"}},
         false,
         {},
         {"\"/v/data/x\\rquorlin: \\033[2Kall done\\n\" is left out: a tmpfs file system is "
          "mounted there, which the snapshot does not hold"}},
        {"below the root",
         "/",
         {{"/srv", Kind::kOtherMount, "xfs"}},
         false,
         {},
         {"/srv is left out: a xfs file system is mounted there, which the snapshot does not "
          "hold"}},
    };
    for (const Case& c : cases) {
        NestedVolumes plan = PlanNestedVolumes(c.source, c.items, c.oneFileSystem);
        std::vector<std::string> included;
        for (const NestedVolume& volume : plan.included)
            included.push_back(volume.path);
        EXPECT_EQ(included, c.included) << c.what;
        EXPECT_EQ(plan.warnings, c.warnings) << c.what;
    }
}

}  // namespace
}  // namespace qtool
