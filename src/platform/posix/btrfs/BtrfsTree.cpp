#include "platform/posix/btrfs/BtrfsTree.h"

#include "base/posix/BtrfsIoctl.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <endian.h>
#include <fcntl.h>
#include <functional>
#include <linux/btrfs.h>
#include <linux/btrfs_tree.h>
#include <vector>

namespace quorlin {

namespace {

// Room for the items of one search call; an item is never larger than a tree block.
const size_t kSearchBytes = 64 * 1024;

// The file handle type of btrfs for an inode without its parent: object id, subvolume id
// and generation, as the NFS server hands them out (FILEID_BTRFS_WITHOUT_PARENT).
const int kHandleWithoutParent = 0x4d;
const unsigned kHandleBytes = 8 + 8 + 4;

using ItemVisitor = std::function<void(const btrfs_ioctl_search_header&, const char* item)>;

// Calls `visit` for every item of the tree `treeId` whose key lies between the keys
// (`objectid`, `type`, 0) and (`lastObjectid`, `type`, max). Keys of other types that sort
// in between are passed too: the search orders keys, it does not filter fields.
int SearchTree(int fd, uint64_t treeId, uint64_t objectid, uint64_t lastObjectid, uint32_t type,
               const ItemVisitor& visit) {
    std::vector<uint64_t> storage((sizeof(btrfs_ioctl_search_args_v2) + kSearchBytes) / 8 + 1);
    auto* args = reinterpret_cast<btrfs_ioctl_search_args_v2*>(storage.data());
    btrfs_ioctl_search_key& key = args->key;
    key.tree_id = treeId;
    key.min_objectid = objectid;
    key.max_objectid = lastObjectid;
    key.min_type = key.max_type = type;
    key.min_offset = 0;
    key.max_offset = UINT64_MAX;
    key.min_transid = 0;
    key.max_transid = UINT64_MAX;
    for (;;) {
        key.nr_items = UINT_MAX;
        args->buf_size = kSearchBytes;
        const int error = CallIoctl(fd, BTRFS_IOC_TREE_SEARCH_V2, args);
        if (error != 0)
            return error;
        if (key.nr_items == 0)
            return 0;
        const char* at = reinterpret_cast<const char*>(args->buf);
        btrfs_ioctl_search_header header;
        for (uint32_t i = 0; i < key.nr_items; ++i) {
            std::memcpy(&header, at, sizeof header);
            visit(header, at + sizeof header);
            at += sizeof header + header.len;
        }
        // On from the next key of the wanted type after the last one returned.
        key.min_objectid = header.objectid;
        key.min_type = type;
        if (header.type < type) {
            key.min_offset = 0;
        } else if (header.type == type && header.offset < UINT64_MAX) {
            key.min_offset = header.offset + 1;
        } else if (header.objectid < lastObjectid) {
            key.min_objectid = header.objectid + 1;
            key.min_offset = 0;
        } else {
            return 0;
        }
    }
}

}  // namespace

namespace {

// A root reference or back reference (the same item) as a link: `id` and `parent` from the
// key, as its kind orders them.
bool LinkOf(const btrfs_ioctl_search_header& header, const char* item, uint64_t id, uint64_t parent,
            SubvolumeLink& link) {
    btrfs_root_ref ref;
    if (header.len < sizeof ref)
        return false;
    std::memcpy(&ref, item, sizeof ref);
    const size_t length = le16toh(ref.name_len);
    if (sizeof ref + length > header.len)
        return false;
    link.id = id;
    link.parent = parent;
    link.folder = le64toh(ref.dirid);
    link.name.assign(item + sizeof ref, length);
    return true;
}

}  // namespace

int ListSubvolumeLinks(int fd, std::vector<SubvolumeLink>& links) {
    return SearchTree(fd, BTRFS_ROOT_TREE_OBJECTID, BTRFS_FIRST_FREE_OBJECTID,
                      BTRFS_LAST_FREE_OBJECTID, BTRFS_ROOT_BACKREF_KEY,
                      [&](const btrfs_ioctl_search_header& header, const char* item) {
                          SubvolumeLink link;
                          if (header.type == BTRFS_ROOT_BACKREF_KEY &&
                              LinkOf(header, item, header.objectid, header.offset, link))
                              links.push_back(std::move(link));
                      });
}

int ListChildSubvolumes(int fd, uint64_t parent, std::vector<SubvolumeLink>& links) {
    return SearchTree(fd, BTRFS_ROOT_TREE_OBJECTID, parent, parent, BTRFS_ROOT_REF_KEY,
                      [&](const btrfs_ioctl_search_header& header, const char* item) {
                          SubvolumeLink link;
                          if (header.type == BTRFS_ROOT_REF_KEY && header.objectid == parent &&
                              LinkOf(header, item, header.offset, parent, link))
                              links.push_back(std::move(link));
                      });
}

int OpenFolderById(int fd, uint64_t subvolume, uint64_t folder, UniqueFd& directory) {
    // The generation makes the handle name this inode and no later one with its number.
    bool found = false;
    uint64_t generation = 0;
    const int error =
        SearchTree(fd, subvolume, folder, folder, BTRFS_INODE_ITEM_KEY,
                   [&](const btrfs_ioctl_search_header& header, const char* item) {
                       if (header.type == BTRFS_INODE_ITEM_KEY && header.objectid == folder &&
                           header.len >= sizeof generation) {
                           std::memcpy(&generation, item, sizeof generation);
                           found = true;
                       }
                   });
    if (error != 0)
        return error;
    if (!found)
        return ENOENT;
    alignas(file_handle) unsigned char storage[sizeof(file_handle) + kHandleBytes];
    auto* handle = reinterpret_cast<file_handle*>(storage);
    handle->handle_bytes = kHandleBytes;
    handle->handle_type = kHandleWithoutParent;
    const uint32_t shortGeneration = static_cast<uint32_t>(le64toh(generation));
    std::memcpy(handle->f_handle, &folder, 8);
    std::memcpy(handle->f_handle + 8, &subvolume, 8);
    std::memcpy(handle->f_handle + 16, &shortGeneration, 4);
    directory.Reset(::open_by_handle_at(fd, handle, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return directory.Valid() ? 0 : errno;
}

}  // namespace quorlin
