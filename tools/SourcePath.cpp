#include "SourcePath.h"

#include "Failure.h"
#include "Text.h"

#include <filesystem>
#include <system_error>

namespace qtool {

std::string ResolveSourcePath(const std::string& path) {
    std::error_code error;
    std::filesystem::path resolved = std::filesystem::canonical(PathFromUtf8(path), error);
    if (error)
        throw Failure(kExitUsage, FieldForLine(path) + " cannot be found (" + error.message() +
                                      "); name an existing file or folder");
    return Utf8FromPath(resolved);
}

std::string VolumeOf(const std::string& source, const std::string& snapshot) {
    const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
    auto endsBoth = [&](std::string::size_type at) {
        const std::string::size_type tail = source.size() - at;
        return tail <= snapshot.size() &&
               snapshot.compare(snapshot.size() - tail, tail, source, at, tail) == 0;
    };
    for (std::string::size_type at = 0; at < source.size(); ++at) {
        if (source[at] != separator || !endsBoth(at))
            continue;
        std::string volume = source.substr(0, at);
        if (volume.empty() || volume.back() == ':')
            volume += separator;
        return volume;
    }
    return source;
}

bool AtOrBelow(const std::string& path, const std::string& folder) {
    const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            (folder.back() == '/' || folder.back() == separator || path[folder.size()] == '/' ||
             path[folder.size()] == separator));
}

}  // namespace qtool
