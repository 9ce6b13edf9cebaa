// What the Windows copy keeps of a file besides its content, and what it names when it
// cannot: Wine has no alternate data streams, holes, compression or encryption, and makes
// up security descriptors, so the calls that tell of them and keep them answer here as
// Windows would for a file that has them (ToldFile), and the copy's requests are seen.
#include "TreeCopy.h"
#include "TestFiles.h"
#include "win32/EntryKinds.h"
#include "win32/KeepingCalls.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winioctl.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace qtool {
namespace {

using Streams = std::vector<std::pair<std::wstring, std::string>>;  // ":s1:$DATA", content

// What Windows would answer for the source file.
struct Told {
    DWORD attributes = 0;  // besides its own
    Streams streams;
    std::vector<std::pair<LONGLONG, LONGLONG>> ranges;  // allocated: offset, length
    bool audit = true;                                  // its SACL may be read
    DWORD streamListError = ERROR_SUCCESS;              // FileStreamInfo fails
    DWORD streamWriteError = ERROR_SUCCESS;             // a stream of the copy cannot be made
    DWORD sparseError = ERROR_SUCCESS;                  // the copy cannot be made sparse
    DWORD compressionError = ERROR_SUCCESS;             // nor compressed
    DWORD securityError = ERROR_SUCCESS;                // nor given the security descriptor
    std::string raw;                                    // encrypted: its raw form
};

// What the copy asked of the destination.
struct Asked {
    Streams streams;  // written
    bool sparse = false;
    bool compressed = false;
    std::vector<SECURITY_INFORMATION> security;
    bool operator==(const Asked& other) const {
        return streams == other.streams && sparse == other.sparse &&
               compressed == other.compressed && security == other.security;
    }
};

void PrintTo(const Asked& asked, std::ostream* out) {
    *out << "streams";
    for (const auto& stream : asked.streams)
        *out << " " << fs::path(stream.first).string() << "=" << stream.second;
    *out << (asked.sparse ? ", sparse" : "") << (asked.compressed ? ", compressed" : "")
         << ", security";
    for (SECURITY_INFORMATION information : asked.security)
        *out << " 0x" << std::hex << information << std::dec;
}

bool EndsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

using tooltest::Read;
using tooltest::Write;

BOOL Refuse(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The system's calls, but for the source `source` and the streams of the copy, which
// answer as `told` says.
class ToldFile : public KeepingCalls {
public:
    ToldFile(const Told& told, fs::path source, fs::path scratch)
        : told_(told), source_(std::move(source)), scratch_(std::move(scratch)) {}

    Asked asked;
    // The content of each stream written, once the copy has closed them.
    Streams Written() const {
        Streams written;
        for (const auto& stream : written_)
            written.push_back({stream.first, Read(stream.second)});
        return written;
    }

    DWORD GetFileAttributesW(const wchar_t* path) override {
        DWORD attributes = KeepingCalls::GetFileAttributesW(path);
        return IsSource(path) ? attributes | told_.attributes : attributes;
    }

    HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                       DWORD flags) override {
        const std::wstring name = path;
        const size_t leaf = name.rfind(L'\\') + 1;
        const size_t stream = name.find(L':', leaf);
        if (stream != std::wstring::npos) {
            const std::wstring streamName = name.substr(stream);
            if (IsSource(name.substr(0, stream))) {
                for (const auto& told : told_.streams)
                    if (told.first == streamName)
                        return Scratch(told.second, GENERIC_READ, OPEN_EXISTING);
                SetLastError(ERROR_FILE_NOT_FOUND);
                return INVALID_HANDLE_VALUE;
            }
            if (told_.streamWriteError != ERROR_SUCCESS) {
                SetLastError(told_.streamWriteError);
                return INVALID_HANDLE_VALUE;
            }
            written_.push_back({streamName, Next()});
            return KeepingCalls::CreateFileW(written_.back().second.c_str(), GENERIC_WRITE, 0,
                                             CREATE_NEW, 0);
        }
        if ((access & ACCESS_SYSTEM_SECURITY) && !told_.audit && IsSource(name)) {
            SetLastError(ERROR_PRIVILEGE_NOT_HELD);
            return INVALID_HANDLE_VALUE;
        }
        // What Wine makes of audit entries is no part of what is shown.
        return KeepingCalls::CreateFileW(path, access & ~ACCESS_SYSTEM_SECURITY, share, disposition,
                                         flags);
    }

    BOOL GetFileInformationByHandleEx(HANDLE, FILE_INFO_BY_HANDLE_CLASS, void* buffer,
                                      DWORD size) override {
        if (told_.streamListError != ERROR_SUCCESS)
            return Refuse(told_.streamListError);
        Streams all = told_.streams;
        all.insert(all.begin(), {L"::$DATA", Read(source_)});
        std::vector<char> records;
        size_t last = 0;
        for (const auto& stream : all) {
            last = records.size();
            const size_t length = stream.first.size() * sizeof(wchar_t);
            records.resize(last + (offsetof(FILE_STREAM_INFO, StreamName) + length + 7) / 8 * 8);
            auto* record = reinterpret_cast<FILE_STREAM_INFO*>(&records[last]);
            record->NextEntryOffset = static_cast<DWORD>(records.size() - last);
            record->StreamNameLength = static_cast<DWORD>(length);
            record->StreamSize.QuadPart = static_cast<LONGLONG>(stream.second.size());
            std::memcpy(record->StreamName, stream.first.data(), length);
        }
        reinterpret_cast<FILE_STREAM_INFO*>(&records[last])->NextEntryOffset = 0;
        if (records.size() > size)
            return Refuse(ERROR_MORE_DATA);
        std::memcpy(buffer, records.data(), records.size());
        return TRUE;
    }

    BOOL DeviceIoControl(HANDLE file, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                         DWORD* returned) override {
        if (code == FSCTL_SET_SPARSE) {
            asked.sparse = true;
            return told_.sparseError == ERROR_SUCCESS ? TRUE : Refuse(told_.sparseError);
        }
        if (code == FSCTL_SET_COMPRESSION) {
            asked.compressed = true;
            return told_.compressionError == ERROR_SUCCESS ? TRUE : Refuse(told_.compressionError);
        }
        if (code == FSCTL_QUERY_ALLOCATED_RANGES) {
            auto* ranges = static_cast<FILE_ALLOCATED_RANGE_BUFFER*>(out);
            *returned = 0;
            for (const auto& range : told_.ranges) {
                if (*returned + sizeof *ranges > outSize)
                    return Refuse(ERROR_MORE_DATA);
                ranges->FileOffset.QuadPart = range.first;
                ranges->Length.QuadPart = range.second;
                ++ranges;
                *returned += sizeof *ranges;
            }
            return TRUE;
        }
        return KeepingCalls::DeviceIoControl(file, code, in, inSize, out, outSize, returned);
    }

    // A descriptor of no owner and no entries: what Wine would make up is not shown.
    BOOL GetKernelObjectSecurity(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR descriptor,
                                 DWORD size, DWORD* needed) override {
        SECURITY_DESCRIPTOR absolute;
        InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION);
        *needed = size;
        return MakeSelfRelativeSD(&absolute, descriptor, needed);
    }

    BOOL SetKernelObjectSecurity(HANDLE, SECURITY_INFORMATION information,
                                 PSECURITY_DESCRIPTOR) override {
        asked.security.push_back(information);
        return told_.securityError == ERROR_SUCCESS ? TRUE : Refuse(told_.securityError);
    }

    // The export hands out `raw` in two pieces; the import writes what it is given to the
    // file it makes.
    DWORD OpenEncryptedFileRawW(const wchar_t* path, ULONG flags, void** context) override {
        if (flags != CREATE_FOR_IMPORT) {
            *context = &exported_;
            return ERROR_SUCCESS;
        }
        imported_ = KeepingCalls::CreateFileW(path, GENERIC_WRITE, 0, CREATE_NEW, 0);
        *context = &imported_;
        return imported_ == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    }
    DWORD ReadEncryptedFileRaw(PFE_EXPORT_FUNC feed, void* pipe, void*) override {
        std::string raw = told_.raw;
        const ULONG half = static_cast<ULONG>(raw.size() / 2);
        DWORD error = feed(reinterpret_cast<PBYTE>(&raw[0]), pipe, half);
        if (error == ERROR_SUCCESS)
            error = feed(reinterpret_cast<PBYTE>(&raw[half]), pipe,
                         static_cast<ULONG>(raw.size()) - half);
        return error;
    }
    DWORD WriteEncryptedFileRaw(PFE_IMPORT_FUNC drain, void* pipe, void*) override {
        for (;;) {
            char piece[7];  // smaller than the export's pieces
            ULONG length = sizeof piece;
            const DWORD error = drain(reinterpret_cast<PBYTE>(piece), pipe, &length);
            DWORD put = 0;
            if (error != ERROR_SUCCESS || length == 0)
                return error;
            if (!WriteFile(imported_, piece, length, &put, nullptr))
                return GetLastError();
        }
    }
    void CloseEncryptedFileRaw(void* context) override {
        if (context == &imported_)
            CloseHandle(imported_);
    }

private:
    bool IsSource(const std::wstring& path) const {
        return EndsWith(path, L"\\" + source_.parent_path().filename().wstring() + L"\\" +
                                  source_.filename().wstring());
    }
    fs::path Next() { return scratch_ / ("stream-" + std::to_string(++made_)); }
    HANDLE Scratch(const std::string& content, DWORD access, DWORD disposition) {
        const fs::path path = Next();
        Write(path, content);
        return KeepingCalls::CreateFileW(path.c_str(), access, FILE_SHARE_READ, disposition, 0);
    }

    const Told told_;
    const fs::path source_;
    const fs::path scratch_;
    std::vector<std::pair<std::wstring, fs::path>> written_;
    int exported_ = 0;
    HANDLE imported_ = INVALID_HANDLE_VALUE;
    int made_ = 0;
};

const SECURITY_INFORMATION kOwnerAndPermissions =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
const SECURITY_INFORMATION kWholeSecurity = kOwnerAndPermissions | SACL_SECURITY_INFORMATION;

struct KeepCase {
    const char* name;
    std::function<void(Told&)> tell;
    std::string content;                              // of the source
    Asked asked;                                      // streams, sparse, compressed, security
    std::string copy;                                 // the content of the copy
    std::vector<std::pair<std::string, DWORD>> lost;  // what could not be kept, and why
};

TEST(Win32KeepTest, TheCopyKeepsWhatTheFileHoldsOrNamesWhatItCannot) {
    const std::string hole(4096, '\0');
    const std::string piece(4096, 'a');
    const std::string pieces = piece + piece + piece;
    const KeepCase cases[] = {
        {"a plain file",
         [](Told&) {},
         "content",
         {{}, false, false, {kWholeSecurity}},
         "content",
         {}},
        {"two alternate data streams",
         [](Told& t) {
             t.streams = {{L":s1:$DATA", "one"}, {L":second:$DATA", "two"}};
         },
         "content",
         {{{L":s1:$DATA", "one"}, {L":second:$DATA", "two"}}, false, false, {kWholeSecurity}},
         "content",
         {}},
        {"a stream that the destination refuses",
         [](Told& t) {
             t.streams = {{L":s1:$DATA", "one"}};
             t.streamWriteError = ERROR_DISK_FULL;
         },
         "content",
         {{}, false, false, {kWholeSecurity}},
         "content",
         {{"the stream s1", ERROR_DISK_FULL}}},
        {"streams that cannot be listed",
         [](Told& t) { t.streamListError = ERROR_ACCESS_DENIED; },
         "content",
         {{}, false, false, {kWholeSecurity}},
         "content",
         {{"the alternate data streams", ERROR_ACCESS_DENIED}}},
        {"a file system without streams (FAT)",
         [](Told& t) { t.streamListError = ERROR_INVALID_FUNCTION; },
         "content",
         {{}, false, false, {kWholeSecurity}},
         "content",
         {}},
        {"a sparse file: its ranges, the holes left",
         [](Told& t) {
             t.attributes = FILE_ATTRIBUTE_SPARSE_FILE;
             t.ranges = {{0, 4096}, {8192, 4096}};
         },
         pieces,
         {{}, true, false, {kWholeSecurity}},
         piece + hole + piece,
         {}},
        {"a sparse file where the destination cannot be sparse",
         [](Told& t) {
             t.attributes = FILE_ATTRIBUTE_SPARSE_FILE;
             t.ranges = {{0, 4096}};
             t.sparseError = ERROR_INVALID_FUNCTION;
         },
         pieces,
         {{}, true, false, {kWholeSecurity}},
         pieces,
         {{"the sparseness", ERROR_INVALID_FUNCTION}}},
        {"a compressed file",
         [](Told& t) { t.attributes = FILE_ATTRIBUTE_COMPRESSED; },
         "content",
         {{}, false, true, {kWholeSecurity}},
         "content",
         {}},
        {"a compressed file where the destination cannot compress",
         [](Told& t) {
             t.attributes = FILE_ATTRIBUTE_COMPRESSED;
             t.compressionError = ERROR_INVALID_FUNCTION;
         },
         "content",
         {{}, false, true, {kWholeSecurity}},
         "content",
         {{"the compression", ERROR_INVALID_FUNCTION}}},
        {"a SACL that cannot be read",
         [](Told& t) { t.audit = false; },
         "content",
         {{}, false, false, {kOwnerAndPermissions}},
         "content",
         {{"the audit entries (SACL)", ERROR_PRIVILEGE_NOT_HELD}}},
        {"a security descriptor that the destination refuses",
         [](Told& t) { t.securityError = ERROR_ACCESS_DENIED; },
         "content",
         {{}, false, false, {kWholeSecurity}},
         "content",
         {{"the owner and permissions", ERROR_ACCESS_DENIED}}},
        {"an encrypted file: its raw form, its content never read",
         [](Told& t) {
             t.attributes = FILE_ATTRIBUTE_ENCRYPTED;
             t.raw = "the raw form of an encrypted file";
             t.streams = {{L":s1:$DATA", "carried in the raw form"}};
         },
         "content in the clear",
         {{}, false, false, {kWholeSecurity}},
         "the raw form of an encrypted file",
         {}},
    };
    for (const KeepCase& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path root =
            fs::temp_directory_path() /
            ("quorlin-win32-keep-" +
             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(root / "source");
        fs::create_directories(root / "scratch");
        const fs::path source = root / "source" / "file.txt";
        Write(source, c.content);
        Told told;
        c.tell(told);
        ToldFile calls(told, source, root / "scratch");
        std::vector<std::string> lines;
        std::size_t lost = 0;
        {
            UsingKeepingCalls using_(calls);
            Progress progress(false, 0, 0);
            lost = TreeCopy(source, source, std::nullopt, [] {
                       return false;
                   }).CopyTo(root, "copy.txt", progress, [&lines](const std::string& sentence) {
                lines.push_back(sentence);
            });
        }
        calls.asked.streams = calls.Written();
        EXPECT_EQ(c.asked, calls.asked);
        EXPECT_EQ(c.copy, Read(root / "copy.txt"));
        std::vector<std::string> expected;
        for (const auto& loss : c.lost)
            expected.push_back("could not keep " + loss.first + " of " + source.string() + " (" +
                               ErrorText(loss.second) + ")");
        EXPECT_EQ(expected, lines);
        // What the command's exit follows: 4 when something was lost, else 0.
        EXPECT_EQ(expected.size(), lost);
        fs::remove_all(root);
    }
}

}  // namespace
}  // namespace qtool
