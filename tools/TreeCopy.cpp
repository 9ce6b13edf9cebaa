#include "TreeCopy.h"

#include "Failure.h"
#include "FileMetadata.h"
#include "FileSystem.h"
#include "StopSignal.h"
#include "Text.h"

#include <cstdio>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace qtool {
namespace {

const std::size_t kChunk = 1 << 20;

[[noreturn]] void CopyFailed(const std::string& reason) {
    throw Failure(kExitCopyFailed,
                  "the copy failed: " + reason +
                      "; check that the destination is writable and has room, then try again");
}

void ThrowIfStopped() {
    if (StopRequested())
        throw Failure(kExitInterrupted,
                      "stopped before the copy was complete; the snapshot was deleted and the "
                      "destination holds a partial copy");
}

void CopyContent(const fs::path& source, const fs::path& destination, Progress& progress) {
    std::ifstream in(source, std::ios::binary);
    if (!in)
        CopyFailed("cannot read " + Utf8FromPath(source));
    std::ofstream out(destination, std::ios::binary | std::ios::trunc);
    if (!out)
        CopyFailed("cannot write " + Utf8FromPath(destination));
    std::vector<char> buffer(kChunk);
    while (in) {
        ThrowIfStopped();
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        std::streamsize count = in.gcount();
        if (count > 0 && !out.write(buffer.data(), count))
            CopyFailed("cannot write " + Utf8FromPath(destination));
        progress.AddBytes(static_cast<std::uint64_t>(count));
    }
    if (in.bad())
        CopyFailed("cannot read " + Utf8FromPath(source));
    out.close();
    if (!out)
        CopyFailed("cannot write " + Utf8FromPath(destination));
}

void CopyEntry(const Entry& source, const fs::path& destination, Progress& progress) {
    ThrowIfStopped();
    switch (source.kind) {
        case EntryKind::kFolder:
            fs::create_directories(destination);
            for (const Entry& entry : ListFolder(source.path))
                CopyEntry(entry, destination / entry.path.filename(), progress);
            break;
        case EntryKind::kFile:
            CopyContent(source.path, destination, progress);
            progress.AddFile();
            break;
        case EntryKind::kLink:
            if (fs::symlink_status(destination).type() != fs::file_type::not_found)
                fs::remove(destination);
            fs::copy_symlink(source.path, destination);
            break;
        case EntryKind::kOther:
            std::fprintf(stderr, "quorlin: skipped %s: not a file, folder or link\n",
                         Utf8FromPath(source.path).c_str());
            return;
    }
    // After the content: adding entries to a folder would change its times.
    CopyMetadata(source.path, destination);
}

void Measure(const Entry& entry, TreeSize& size) {
    if (entry.kind == EntryKind::kFile) {
        size.bytes += entry.size;
        ++size.files;
    } else if (entry.kind == EntryKind::kFolder) {
        for (const Entry& inner : ListFolder(entry.path))
            Measure(inner, size);
    }
}

}  // namespace

TreeSize MeasureTree(const fs::path& source) {
    TreeSize size;
    try {
        Measure(Inspect(source), size);
    } catch (const fs::filesystem_error& error) {
        CopyFailed(error.what());
    }
    return size;
}

void CopyTree(const fs::path& source, const fs::path& destination, Progress& progress) {
    try {
        CopyEntry(Inspect(source), destination, progress);
    } catch (const fs::filesystem_error& error) {
        CopyFailed(error.what());
    }
}

}  // namespace qtool
