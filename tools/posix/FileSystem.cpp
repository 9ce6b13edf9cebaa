#include "FileSystem.h"

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace qtool {
namespace {

// The root folder of every btrfs subvolume (and snapshot) has this inode number.
const ino_t kSubvolumeRootInode = 256;
// Where the snapshot service keeps its snapshots, at the root of a volume's mount.
const char kSnapshotStoreName[] = ".quorlin";

Entry EntryOf(const fs::path& path, const fs::file_status& status) {
    Entry entry;
    entry.path = path;
    if (fs::is_symlink(status)) {
        entry.kind = EntryKind::kLink;
    } else if (fs::is_directory(status)) {
        entry.kind = EntryKind::kFolder;
    } else if (fs::is_regular_file(status)) {
        entry.kind = EntryKind::kFile;
        entry.size = fs::file_size(path);
    }
    return entry;
}

}  // namespace

Entry Inspect(const fs::path& path) { return EntryOf(path, fs::symlink_status(path)); }

std::vector<Entry> ListFolder(const fs::path& path) {
    struct stat folder;
    bool volumeRoot = stat(path.c_str(), &folder) == 0 && folder.st_ino == kSubvolumeRootInode;
    std::vector<Entry> entries;
    for (const fs::directory_entry& item : fs::directory_iterator(path)) {
        Entry entry = EntryOf(item.path(), item.symlink_status());
        if (!(volumeRoot && entry.kind == EntryKind::kFolder &&
              item.path().filename() == kSnapshotStoreName))
            entries.push_back(entry);
    }
    return entries;
}

}  // namespace qtool
