#include "Json.h"
#include "SourcePath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace qtool {
namespace {

TEST(Json, StringsAreAsciiAndKeepEveryByte) {
    const struct {
        const char* text;
        const char* json;
    } cases[] = {
        {"/srv/db", "\"/srv/db\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"line\nbreak\ttab\rreturn", "\"line\\nbreak\\ttab\\rreturn\""},
        {"\x01\x1f\x7f", "\"\\u0001\\u001f\\u007f\""},
        {"caf\xc3\xa9 \xe2\x82\xac", "\"caf\\u00e9 \\u20ac\""},
        {"\xf0\x9f\x98\x80", "\"\\ud83d\\ude00\""},  // beyond U+FFFF: a surrogate pair
        // Bytes that are not UTF-8, one escape each: a stray byte, a cut sequence,
        // an overlong form, an encoded surrogate, a value beyond U+10FFFF.
        {"x\xffy", "\"x\\udcffy\""},
        {"end\xc3", "\"end\\udcc3\""},
        {"\xc0\xaf", "\"\\udcc0\\udcaf\""},
        {"\xed\xa0\x80", "\"\\udced\\udca0\\udc80\""},
        {"\xf4\x90\x80\x80", "\"\\udcf4\\udc90\\udc80\\udc80\""},
        {"\xe2\x82", "\"\\udce2\\udc82\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JsonString(c.text), c.json) << c.text;
}

TEST(Json, ObjectsForTheSetAndForAFailure) {
    EXPECT_EQ(SuccessJson("1c1860f9-d0fe-4169-9265-c42b2569c2ab",
                          {{"db", "/v/.quorlin/a/db", "/v"}, {"/h\n", "/w/.quorlin/b", "/w"}}),
              "{\"ok\":true,\"set\":\"1c1860f9-d0fe-4169-9265-c42b2569c2ab\",\"paths\":["
              "{\"source\":\"db\",\"snapshot\":\"/v/.quorlin/a/db\",\"volume\":\"/v\"},"
              "{\"source\":\"/h\\n\",\"snapshot\":\"/w/.quorlin/b\",\"volume\":\"/w\"}],"
              "\"instant\":null}");
    const struct {
        Failure failure;
        const char* json;
    } failures[] = {
        {Failure(1, "could not",
                 {1, 0x8004230C, 505, "There was a COM failure 0x8004230c - .\\QuorlinClass (505)",
                  "The volume does not support snapshots; ..."}),
         "{\"ok\":false,\"exit\":1,\"result\":1,\"code\":\"0x8004230c\",\"report\":\"There was a "
         "COM failure 0x8004230c - .\\\\QuorlinClass (505)\",\"sentence\":\"could not.\"}"},
        {Failure(99, "could not", {99, 0, 0, "", "The library refused: ..."}),
         "{\"ok\":false,\"exit\":99,\"result\":99,\"code\":null,\"report\":\"\",\"sentence\":"
         "\"could not.\"}"},
        {Failure(2, "bad"),
         "{\"ok\":false,\"exit\":2,\"result\":null,\"code\":null,\"report\":null,\"sentence\":"
         "\"could not.\"}"},
    };
    for (const auto& f : failures)
        EXPECT_EQ(FailureJson(f.failure, "could not."), f.json);
}

// Written with "/", run with the platform's separator.
TEST(Json, VolumeIsTheSourceWithoutTheTailItSharesWithTheSnapshotPath) {
    const struct {
        const char* source;
        const char* snapshot;
        const char* volume;
    } cases[] = {
        {"/mnt/vol/dir/file", "/mnt/vol/.quorlin/7a/dir/file", "/mnt/vol"},
        {"/mnt/vol/sub/b", "/mnt/vol/.quorlin/9c/b", "/mnt/vol/sub"},  // a nested subvolume
        {"/mnt/vol", "/mnt/vol/.quorlin/7a", "/mnt/vol"},              // the volume itself
        {"/file", "/.quorlin/7a/file", "/"},
        {"C:/windows", "//?/GLOBALROOT/Device/HarddiskVolumeShadowCopy3/windows", "C:/"},
        {"/a/file/file", "/a/.quorlin/7a/file/file", "/a"},  // a repeated name
    };
    const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
    auto local = [&](std::string path) {
        std::replace(path.begin(), path.end(), '/', separator);
        return path;
    };
    for (const auto& c : cases)
        EXPECT_EQ(VolumeOf(local(c.source), local(c.snapshot)), local(c.volume)) << c.source;
}

}  // namespace
}  // namespace qtool
