// A local user against the snapshot store: whoever can change a folder on the way from
// "/" to the store (or the store) could redirect the snapshot paths that root reads, hide
// snapshots from the sweep or block snapshots. The service refuses such a mount, says
// which folder is to blame, and never deletes what the user made. The attacker is
// `nobody`, through setpriv.
#include "diag/TraceOptions.h"
#include "diag/Trace.h"
#include "platform/posix/Utf8.h"
#include "platform/posix/btrfs/SnapshotStore.h"
#include "posix/BtrfsFixture.h"
#include "posix/ScratchVolume.h"
#include "support/TraceState.h"

#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace quorlin {
namespace testing {
namespace {

const uid_t kNobody = 65534;  // nobody and nogroup on Debian
const gid_t kNogroup = 65534;

// Runs `command` with sh as nobody:nogroup without other groups; its exit status.
int AsNobody(const std::string& command, const std::string& folder) {
    std::string quoted;
    for (char c : command)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return RunQuietly("cd '" + folder + "' && setpriv --reuid=nobody --regid=nogroup " +
                      "--clear-groups -- sh -c '" + quoted + "'");
}

// Gives a folder its owner and mode back when it goes.
class FolderState {
public:
    explicit FolderState(std::string path) : path_(std::move(path)) {
        ::lstat(path_.c_str(), &saved_);
    }
    ~FolderState() {
        (void)::chown(path_.c_str(), saved_.st_uid, saved_.st_gid);
        ::chmod(path_.c_str(), saved_.st_mode & 07777);
    }

private:
    std::string path_;
    struct stat saved_;
};

class BtrfsStoreAttackTest : public BtrfsTest {
protected:
    // AddToSnapshotSet for `volume` in a new set, with the service's trace lines in `traced`.
    HRESULT Add(const std::string& volume, std::string& traced) {
        TraceState trace;
        int fds[2];
        EXPECT_EQ(0, ::pipe2(fds, O_CLOEXEC | O_NONBLOCK));
        g_traceLevel = TRACE_LEVEL_SERVICE_DETAIL;
        g_traceConsole = reinterpret_cast<HANDLE>(static_cast<intptr_t>(fds[1]));
        VSS_ID setId, id;
        ComPtr<BackupComponents> components = StartSet(VSS_CTX_BACKUP, setId);
        const HRESULT hr =
            components->AddToSnapshotSet(FromUtf8(volume + "/").c_str(), GUID_NULL, &id);
        components.Reset();
        ::close(fds[1]);
        traced = Drain(fds[0]);
        ::close(fds[0]);
        return hr;
    }

    // Makes the store as a snapshot does (and releases the snapshot).
    void MakeStore(const std::string& volume) {
        VSS_ID setId;
        ComPtr<BackupComponents> components = StartSet(VSS_CTX_BACKUP, setId);
        TakeSet(components, {volume});
    }
};

TEST_F(BtrfsStoreAttackTest, MountThatOthersCouldRedirectIsRefusedAndTheirFilesStay) {
    const std::string volume = NewSubvolume("attacked");
    WriteFile(volume + "/secret", "root's");
    const std::string mount = FirstBtrfs();
    const std::string store = StorePath(mount);
    const std::string above = ScratchPath();
    FolderState aboveState(above), mountState(mount);
    ASSERT_EQ(0, ::chmod(above.c_str(), 0711));  // nobody may pass, as through /tmp/…
    const std::string forge =
        "mv .quorlin .quorlin-away; mkdir -p .quorlin/forged && "
        "echo FORGED > .quorlin/forged/secret";
    const struct {
        const char* name;
        std::function<void()> open;  // as root: who else may now change what
        const char* attack;          // then, as nobody, in the mount root
        bool attackWorks;
        HRESULT expected;
        std::string blamed;  // the folder the trace names; empty: none
        bool ownStore;       // the set's store is one no user could foresee (.quorlin-<id>)
    } cases[] = {
        {"a mount root that all may write", [&] { ::chmod(mount.c_str(), 0777); }, forge.c_str(),
         true, E_ACCESSDENIED, mount, false},
        {"a mount root of the user's", [&] { (void)::chown(mount.c_str(), kNobody, kNogroup); },
         forge.c_str(), true, E_ACCESSDENIED, mount, false},
        {"a mount root that the user's group may write",
         [&] { (void)::chown(mount.c_str(), 0, kNogroup), ::chmod(mount.c_str(), 0775); },
         forge.c_str(), true, E_ACCESSDENIED, mount, false},
        // The user's .quorlin blocks nothing: the store gets a name no one can foresee.
        {"a sticky mount root where the user made the store first",
         [&] { RemoveTree(store), ::chmod(mount.c_str(), 01777); }, "mkdir -m 700 .quorlin", true,
         S_OK, "", true},
        {"a sticky mount root and root's store", [&] { ::chmod(mount.c_str(), 01777); },
         "mv .quorlin .quorlin-away || rm -rf .quorlin", false, S_OK, "", false},
        {"a folder above that all may write", [&] { ::chmod(above.c_str(), 0777); }, "true", true,
         E_ACCESSDENIED, above, false},
        {"a sticky folder above, root's below", [&] { ::chmod(above.c_str(), 01777); },
         "mv ../first ../first-away", false, S_OK, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MakeStore(volume);
        c.open();
        EXPECT_EQ(c.attackWorks, AsNobody(c.attack, mount) == 0);
        std::string traced;
        EXPECT_EQ(c.expected, Add(volume, traced));
        if (!c.blamed.empty()) {
            EXPECT_NE(std::string::npos, traced.find(c.blamed + ": Permission denied")) << traced;
        }
        if (c.expected == S_OK) {
            VSS_ID setId;
            ComPtr<BackupComponents> components = StartSet(VSS_CTX_BACKUP, setId);
            const std::string device = DevicePath(components, TakeSet(components, {volume})[0]);
            const std::string folder = device.substr(0, device.rfind('/'));
            const std::string used = folder.substr(0, folder.rfind('/'));
            if (c.ownStore) {
                EXPECT_EQ(mount + "/.quorlin-", used.substr(0, mount.size() + 10));
                EXPECT_EQ(kStoreDirectoryName + std::string("-"), used.substr(mount.size() + 1, 9));
            } else {
                EXPECT_EQ(store, used);
            }
            EXPECT_EQ("root's", ReadFile(device + "/secret"));
        }
        // What the user made is the user's: still there, untouched.
        if (c.attack == forge.c_str()) {
            EXPECT_EQ("FORGED\n", ReadFile(store + "/forged/secret"));
        }
        if (std::string(c.attack) == "mkdir -m 700 .quorlin") {
            struct stat st;
            EXPECT_EQ(0, ::lstat(store.c_str(), &st)) << "the user's empty folder is left alone";
            EXPECT_EQ(kNobody, st.st_uid);
        }
        // Back to a mount that only root controls, with no store, for the next row.
        ::chmod(above.c_str(), 0711);
        (void)::chown(mount.c_str(), 0, 0);
        ::chmod(mount.c_str(), 0755);
        RemoveTree(store);
        RemoveTree(mount + "/.quorlin-away");
        RunQuietly("for s in '" + mount + "'/.quorlin-*-*; do btrfs subvolume delete \"$s\"; done");
    }
}

}  // namespace
}  // namespace testing
}  // namespace quorlin
