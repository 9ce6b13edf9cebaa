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
        throw Failure(kExitUsage, path + " cannot be found (" + error.message() +
                                      "); name an existing file or folder");
    return Utf8FromPath(resolved);
}

}  // namespace qtool
