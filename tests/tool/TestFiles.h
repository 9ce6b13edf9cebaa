// A file's whole content, read and written as the command's tests set up and check trees.
#ifndef QUORLIN_TESTS_TOOL_TEST_FILES_H
#define QUORLIN_TESTS_TOOL_TEST_FILES_H

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace tooltest {

// What `path` holds; empty when it cannot be read.
inline std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Makes `path` hold `content`, in a folder that is there already.
inline void Write(const std::filesystem::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

}  // namespace tooltest

#endif
