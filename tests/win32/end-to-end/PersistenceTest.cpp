// A host that dies while it holds its backups: the snapshots of a backup without
// writers persist until deleted, those of a backup with writers go with the
// host's process, as VSS releases them.
#include "Children.h"
#include "RawVss.h"
#include "StandInSession.h"

#include <gtest/gtest.h>

#include <string>

namespace endtoend {
namespace {

using standin::LiveFolder;
using standin::ReadBytes;
using standin::StandInSession;
using standin::WriteBytes;

TEST(PersistenceTest, ASetWithoutWritersOutlivesItsHostAndIsDeletedByRequest) {
    StandInSession session;
    LiveFolder live(L"C:\\quorlin-left");
    session.Freeze(live.Path());
    const std::wstring file = live / L"a.txt";
    ASSERT_TRUE(WriteBytes(file, "as it was"));

    ASSERT_EQ(0u, RunSelf(L"--leave-snapshots \"" + file + L"\""));
    EXPECT_EQ(2u, session.SnapshotsInStore());
    EXPECT_EQ(0u, session.LinesStarting("Release").size());  // the host never let go

    // The next components object finds the dead host's backup with writers and drops it.
    ComponentsPtr components = CreateComponents();
    ASSERT_TRUE(components);
    EXPECT_EQ(1u, session.SnapshotsInStore());
    EXPECT_EQ(1u, session.LinesStarting("* released ").size());

    ASSERT_EQ(S_OK, components->InitializeForBackup(nullptr));
    ASSERT_EQ(S_OK, components->SetContext(VSS_CTX_ALL));
    IVssEnumObject* list = nullptr;
    ASSERT_EQ(S_OK, components->Query(GUID_NULL, VSS_OBJECT_NONE, VSS_OBJECT_SNAPSHOT, &list));
    VSS_OBJECT_PROP item;
    ULONG fetched = 0;
    ASSERT_EQ(S_OK, list->Next(1, &item, &fetched));
    EXPECT_EQ(S_FALSE, list->Next(1, &item, &fetched));
    list->Release();
    const VSS_SNAPSHOT_PROP& snapshot = item.Obj.Snap;
    EXPECT_EQ(VSS_CTX_NAS_ROLLBACK, snapshot.m_lSnapshotAttributes);
    ASSERT_TRUE(WriteBytes(file, "changed"));
    EXPECT_EQ("as it was", ReadBytes(std::wstring(snapshot.m_pwszSnapshotDeviceObject) +
                                     L"\\quorlin-left\\a.txt"));

    LONG deleted = 0;
    VSS_ID nondeleted;
    EXPECT_EQ(S_OK, components->DeleteSnapshots(snapshot.m_SnapshotSetId, VSS_OBJECT_SNAPSHOT_SET,
                                                TRUE, &deleted, &nondeleted));
    EXPECT_EQ(1, deleted);
    FreeProperties(item.Obj.Snap);
    EXPECT_EQ(0u, session.SnapshotsInStore());
}

}  // namespace
}  // namespace endtoend
