#include "FileSystem.h"

namespace fs = std::filesystem;

namespace qtool {
namespace {

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
    std::vector<Entry> entries;
    for (const fs::directory_entry& item : fs::directory_iterator(path))
        entries.push_back(EntryOf(item.path(), item.symlink_status()));
    return entries;
}

}  // namespace qtool
