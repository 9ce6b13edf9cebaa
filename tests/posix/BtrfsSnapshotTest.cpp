// Snapshots on real btrfs: what they show, where they live, who may enter, and when they go.
#include "platform/Platform.h"
#include "platform/posix/Utf8.h"
#include "posix/BtrfsFixture.h"
#include "snapshot/PathTranslation.h"

#include "posix/ScratchVolume.h"
#include "platform/posix/btrfs/SnapshotStore.h"

#include <cerrno>
#include <functional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorlin {
namespace testing {
namespace {

using BtrfsSnapshotTest = BtrfsTest;

std::string VolumeRootOf(const std::string& path) {
    wchar_t root[MAX_PATH];
    EXPECT_TRUE(PlatformHost().GetVolumePathName(FromUtf8(path).c_str(), root, MAX_PATH)) << path;
    return ToUtf8(root);
}

TEST_F(BtrfsSnapshotTest, TranslatedPathsReadTheVolumeAsItWasTaken) {
    const std::string volume = NewSubvolume("data");
    ::mkdir((volume + "/dir").c_str(), 0755);
    WriteFile(volume + "/dir/changed.txt", "before");
    WriteFile(volume + "/appended.log", "line 1\n");
    WriteFile(volume + "/deleted.txt", "still here");

    VSS_ID setId;
    ComPtr<BackupComponents> components = StartSet(VSS_CTX_BACKUP, setId);
    const std::string root = VolumeRootOf(volume + "/dir/changed.txt");
    EXPECT_EQ(volume + "/", root);
    const VSS_ID snapshotId = TakeSet(components, {volume})[0];

    WriteFile(volume + "/dir/changed.txt", "after, and longer");
    WriteFile(volume + "/appended.log", "line 2\n", true);
    ::unlink((volume + "/deleted.txt").c_str());
    WriteFile(volume + "/created.txt", "new");

    SnapshotProperties properties;
    ASSERT_EQ(S_OK, components->GetSnapshotProperties(snapshotId, &properties));
    EXPECT_EQ(FromUtf8(volume + "/"), properties.originalVolumeName);
    EXPECT_TRUE(properties.snapshotSetId == setId);
    const std::wstring device = properties.snapshotDeviceObject;
    ASSERT_FALSE(device.empty());
    EXPECT_NE(L'/', device.back());

    auto translated = [&](const std::string& path) {
        std::wstring result;
        CalculateSourcePath(device.c_str(), FromUtf8(path).c_str(), FromUtf8(root).c_str(), result);
        return ToUtf8(result);
    };
    EXPECT_EQ("before", ReadFile(translated(volume + "/dir/changed.txt")));
    EXPECT_EQ("line 1\n", ReadFile(translated(volume + "/appended.log")));
    EXPECT_EQ("still here", ReadFile(translated(volume + "/deleted.txt")));
    EXPECT_FALSE(Exists(translated(volume + "/created.txt")));

    // Read-only: nothing can change what the snapshot shows.
    const int fd = ::open(translated(volume + "/dir/changed.txt").c_str(), O_WRONLY);
    EXPECT_EQ(-1, fd);
    EXPECT_EQ(EROFS, errno);

    LONG deleted = -1;
    VSS_ID notDeleted = setId;
    EXPECT_EQ(S_OK, components->DeleteSnapshots(setId, VSS_OBJECT_SNAPSHOT_SET, true, &deleted,
                                                &notDeleted));
    EXPECT_EQ(1, deleted);
    EXPECT_TRUE(notDeleted == GUID_NULL);
    EXPECT_FALSE(Exists(ToUtf8(device)));
    EXPECT_EQ(VSS_E_OBJECT_NOT_FOUND, components->GetSnapshotProperties(snapshotId, &properties));
}

TEST_F(BtrfsSnapshotTest, SnapshotsLiveInADirectoryOnlyRootCanEnter) {
    const std::string volume = NewSubvolume("private");
    VSS_ID setId;
    ComPtr<BackupComponents> components = StartSet(VSS_CTX_BACKUP, setId);
    const std::string device = DevicePath(components, TakeSet(components, {volume})[0]);

    // <mount>/.quorlin/<snapshot>/<snapshot>: the store is root's, 0700, a subvolume of its
    // own; so is the snapshot's own folder in it (a plain folder).
    const std::string folder = device.substr(0, device.rfind('/'));
    const std::string store = folder.substr(0, folder.rfind('/'));
    EXPECT_EQ(FirstBtrfs() + "/.quorlin", store);
    EXPECT_EQ(device.substr(device.rfind('/')), folder.substr(folder.rfind('/')));
    struct stat st;
    ASSERT_EQ(0, ::lstat(folder.c_str(), &st)) << folder;
    EXPECT_EQ(0700u, st.st_mode & 07777);
    EXPECT_EQ(0u, st.st_uid);
    ASSERT_EQ(0, ::lstat(store.c_str(), &st)) << store;
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(0700u, st.st_mode & 07777);
    EXPECT_EQ(0u, st.st_uid);
    EXPECT_EQ(256u, st.st_ino) << "the root of a subvolume";
    // Nothing was written into the volume itself.
    EXPECT_FALSE(Exists(volume + "/.quorlin"));
    // The store stays, empty, once the snapshot is gone.
    components.Reset();
    EXPECT_TRUE(StoreEntries(FirstBtrfs()).empty());
    EXPECT_TRUE(StoreExists(FirstBtrfs()));
}

TEST_F(BtrfsSnapshotTest, StoreThatIsNotRootsAloneIsRefusedAndNotFollowed) {
    const std::string volume = NewSubvolume("guarded");
    const std::string store = FirstBtrfs() + "/.quorlin";
    const std::string elsewhere = ScratchPath() + "/elsewhere";
    ::mkdir(elsewhere.c_str(), 0777);
    RemoveAfterTest(elsewhere);
    const struct {
        const char* name;
        std::function<void()> plant;
    } cases[] = {
        {"someone else's",
         [&] { ::mkdir(store.c_str(), 0700), (void)::chown(store.c_str(), 1000, 1000); }},
        {"open to others", [&] { ::mkdir(store.c_str(), 0755), ::chmod(store.c_str(), 0755); }},
        {"a link", [&] { (void)::symlink(elsewhere.c_str(), store.c_str()); }},
        {"a file", [&] { WriteFile(store, ""); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.plant();
        VSS_ID setId, id;
        ComPtr<BackupComponents> components = StartSet(VSS_CTX_BACKUP, setId);
        EXPECT_EQ(E_ACCESSDENIED,
                  components->AddToSnapshotSet(FromUtf8(volume + "/").c_str(), GUID_NULL, &id));
        components.Reset();
        EXPECT_EQ(0, ::rmdir(elsewhere.c_str())) << "nothing was written through the link";
        ::mkdir(elsewhere.c_str(), 0777);
        EXPECT_TRUE(RemoveTree(store));
    }
}

TEST_F(BtrfsSnapshotTest, NestedSubvolumeIsAVolumeOfItsOwn) {
    const std::string outer = NewSubvolume("outer");
    const std::string inner = NewSubvolume("inner", outer);
    WriteFile(outer + "/outer.txt", "outer");
    WriteFile(inner + "/inner.txt", "inner");
    EXPECT_EQ(inner + "/", VolumeRootOf(inner + "/inner.txt"));
    EXPECT_EQ(outer + "/", VolumeRootOf(outer + "/outer.txt"));

    VSS_ID setId;
    ComPtr<BackupComponents> components = StartSet(VSS_CTX_BACKUP, setId);
    const std::vector<VSS_ID> ids = TakeSet(components, {outer, inner});
    const std::string outerDevice = DevicePath(components, ids[0]);
    const std::string innerDevice = DevicePath(components, ids[1]);
    EXPECT_EQ("outer", ReadFile(outerDevice + "/outer.txt"));
    EXPECT_FALSE(Exists(outerDevice + "/inner/inner.txt"));  // not part of the outer volume
    EXPECT_EQ("inner", ReadFile(innerDevice + "/inner.txt"));
}

TEST_F(BtrfsSnapshotTest, OneSetSpansVolumesOnTwoFileSystems) {
    const std::string first = NewSubvolume("one");
    const std::string second = NewSubvolume("two", SecondBtrfs());
    WriteFile(first + "/f", "first");
    WriteFile(second + "/f", "second");

    VSS_ID setId;
    ComPtr<BackupComponents> components = StartSet(VSS_CTX_BACKUP, setId);
    const std::vector<VSS_ID> ids = TakeSet(components, {first, second});
    EXPECT_FALSE(ids[0] == ids[1]);
    EXPECT_EQ("first", ReadFile(DevicePath(components, ids[0]) + "/f"));
    EXPECT_EQ("second", ReadFile(DevicePath(components, ids[1]) + "/f"));
    EXPECT_TRUE(StoreExists(FirstBtrfs()));
    EXPECT_TRUE(StoreExists(SecondBtrfs()));

    LONG deleted = 0;
    VSS_ID notDeleted;
    EXPECT_EQ(S_OK, components->DeleteSnapshots(setId, VSS_OBJECT_SNAPSHOT_SET, true, &deleted,
                                                &notDeleted));
    EXPECT_EQ(2, deleted);
}

TEST_F(BtrfsSnapshotTest, MountRootOfAFreshFileSystemIsAVolume) {
    WriteFile(SecondBtrfs() + "/top.txt", "top");
    EXPECT_EQ(SecondBtrfs() + "/", VolumeRootOf(SecondBtrfs() + "/top.txt"));
    VSS_ID setId;
    ComPtr<BackupComponents> components = StartSet(VSS_CTX_BACKUP, setId);
    const std::string device = DevicePath(components, TakeSet(components, {SecondBtrfs()})[0]);
    EXPECT_EQ("top", ReadFile(device + "/top.txt"));
    // The store is a subvolume of its own: the snapshot shows it as an empty folder.
    EXPECT_TRUE(Exists(device + "/.quorlin"));
    std::vector<std::string> names;
    UniqueFd store(::open((device + "/.quorlin").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(store.Valid());
    ASSERT_EQ(0, ListDirectory(store.Get(), names));
    EXPECT_TRUE(names.empty());
    ::unlink((SecondBtrfs() + "/top.txt").c_str());
}

TEST_F(BtrfsSnapshotTest, AutoReleaseSnapshotsGoWithTheLastReference) {
    const std::string volume = NewSubvolume("released");
    VSS_ID setId;
    ComPtr<BackupComponents> components = StartSet(VSS_CTX_BACKUP, setId);
    const std::string device = DevicePath(components, TakeSet(components, {volume})[0]);
    ComPtr<BackupComponents> second = components;
    components.Reset();
    EXPECT_TRUE(Exists(device)) << "released with a reference left";
    second.Reset();
    EXPECT_FALSE(Exists(device));
}

TEST_F(BtrfsSnapshotTest, AbortBackupRemovesAutoReleaseSnapshotsButKeepsPersistentOnes) {
    const std::string volume = NewSubvolume("aborted");
    VSS_ID setId;
    ComPtr<BackupComponents> automatic = StartSet(VSS_CTX_BACKUP, setId);
    const std::string automaticDevice = DevicePath(automatic, TakeSet(automatic, {volume})[0]);
    EXPECT_EQ(S_OK, automatic->AbortBackup());
    EXPECT_FALSE(Exists(automaticDevice));

    VSS_ID persistentSet;
    ComPtr<BackupComponents> persistent = StartSet(VSS_CTX_NAS_ROLLBACK, persistentSet);
    const std::string persistentDevice = DevicePath(persistent, TakeSet(persistent, {volume})[0]);
    EXPECT_EQ(S_OK, persistent->AbortBackup());
    persistent.Reset();
    EXPECT_TRUE(Exists(persistentDevice));

    ComPtr<BackupComponents> cleaner;
    ASSERT_EQ(S_OK, CreatePlatformBackupComponents(cleaner));
    ASSERT_EQ(S_OK, cleaner->InitializeForBackup(nullptr));
    LONG deleted = 0;
    VSS_ID notDeleted;
    EXPECT_EQ(S_OK, cleaner->DeleteSnapshots(persistentSet, VSS_OBJECT_SNAPSHOT_SET, true, &deleted,
                                             &notDeleted));
    EXPECT_EQ(1, deleted);
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
