#include "platform/posix/btrfs/MountedFileSystems.h"

#include "base/posix/BtrfsIoctl.h"
#include "platform/posix/btrfs/SnapshotStore.h"
#include "base/posix/MountTable.h"

#include <array>
#include <fcntl.h>
#include <map>

namespace quorlin {

std::vector<int> MountedFileSystem::StoreFds() const {
    std::vector<int> fds;
    for (const UniqueFd& store : stores)
        fds.push_back(store.Get());
    return fds;
}

std::vector<MountedFileSystem> FindMountedFileSystems(int onlyOf) {
    std::array<uint8_t, 16> wanted{};
    if (onlyOf >= 0 && FileSystemIdOf(onlyOf, wanted) != 0)
        return {};
    std::map<std::array<uint8_t, 16>, MountedFileSystem> fileSystems;
    std::vector<Mount> mounts;
    if (ReadMountTable(mounts) != 0)
        return {};
    for (const Mount& mount : mounts) {
        if (mount.fileSystemType != "btrfs")
            continue;
        UniqueFd root(::open(mount.mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        std::array<uint8_t, 16> id;
        if (!root.Valid() || FileSystemIdOf(root.Get(), id) != 0 || (onlyOf >= 0 && id != wanted))
            continue;
        MountedFileSystem& fileSystem = fileSystems[id];
        UniqueFd store;
        std::string storeName;
        if (OpenStore(root.Get(), store, storeName) == 0)
            fileSystem.stores.push_back(std::move(store));
        if (!fileSystem.root.Valid()) {
            fileSystem.mountPoint = mount.mountPoint;
            fileSystem.root = std::move(root);
        }
    }
    std::vector<MountedFileSystem> result;
    for (auto& entry : fileSystems)
        result.push_back(std::move(entry.second));
    return result;
}

}  // namespace quorlin
