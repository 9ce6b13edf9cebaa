#include "host/FilterRegistration.h"

#include "support/FakeHost.h"

#include <gtest/gtest.h>

namespace quorlin {
namespace {

using testing::FakeHost;

// UTF-16 little-endian bytes of `text`, without a terminator.
std::vector<uint8_t> Utf16(const std::wstring& text) {
    std::vector<uint8_t> bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
    }
    return bytes;
}

// A list of strings: each entry terminated, then the empty entry.
std::vector<uint8_t> List(const std::vector<std::wstring>& entries) {
    std::wstring text;
    for (const std::wstring& entry : entries)
        text += entry + L'\0';
    return Utf16(text + L'\0');
}

std::vector<std::wstring> Numbered(int count) {
    std::vector<std::wstring> entries;
    for (int i = 0; i < count; ++i)
        entries.push_back(L"UpperFilter" + std::to_wstring(i));
    return entries;
}

// The fake registry, with the answers a real one may also give.
class RegistryHost : public FakeHost {
public:
    long queryError = 0;       // answered instead of the value
    bool growing = false;      // the value outgrows every buffer
    bool fillPastEnd = false;  // the buffer holds "VOLSNAP" after the bytes returned

    long QueryRegistryValue(void* key, const wchar_t* name, uint32_t& type, uint8_t* data,
                            uint32_t& size) override {
        const uint32_t capacity = size;
        if (queryError != 0 || growing) {
            registryCalls.push_back("Query(" + std::to_string(size) + ")");
            size = capacity + 2;
            return queryError != 0 ? queryError : 234;
        }
        const long result = FakeHost::QueryRegistryValue(key, name, type, data, size);
        if (result == 0 && fillPastEnd) {
            const std::vector<uint8_t> stray = List({L"VOLSNAP"});
            for (size_t i = 0; i < stray.size() && size + i < capacity; ++i)
                data[size + i] = stray[i];
        }
        return result;
    }
};

struct FilterCase {
    const char* what;
    bool present;
    std::vector<uint8_t> value;
    int result;
    std::vector<std::string> calls;
    std::vector<std::wstring> after;  // the list afterwards
};

const char kOpen[] = "Open";
const char kQuery[] = "Query(512)";
const char kClose[] = "Close";
const std::string kLarge = std::to_string(List(Numbered(30)).size());
const std::string kLargeRepaired = std::to_string(List(Numbered(30)).size() + 16);

const FilterCase kCases[] = {
    {"the only entry, any case",
     true,
     List({L"vOLsNAP"}),
     1,
     {kOpen, kQuery, kClose},
     {L"vOLsNAP"}},
    {"second entry, lower case",
     true,
     List({L"PartMgr", L"volsnap"}),
     1,
     {kOpen, kQuery, kClose},
     {L"PartMgr", L"volsnap"}},
    {"inside a longer name",
     true,
     List({L"XVolSnapFlt"}),
     1,
     {kOpen, kQuery, kClose},
     {L"XVolSnapFlt"}},
    {"an old repair without terminator",
     true,
     Utf16(L"VolSnap"),
     1,
     {kOpen, kQuery, kClose},
     {L"VolSnap"}},
    {"absent", false, {}, 0, {kOpen, kQuery, "Set(7,18)", kClose}, {L"VolSnap"}},
    {"empty list", true, List({}), 0, {kOpen, kQuery, "Set(7,18)", kClose}, {L"VolSnap"}},
    {"other entries kept",
     true,
     List({L"PartMgr", L"Other"}),
     0,
     {kOpen, kQuery, "Set(7,46)", kClose},
     {L"PartMgr", L"Other", L"VolSnap"}},
    {"last entry without terminator",
     true,
     Utf16(L"PartMgr"),
     0,
     {kOpen, kQuery, "Set(7,34)", kClose},
     {L"PartMgr", L"VolSnap"}},
    {"odd byte count",
     true,
     [] {
         std::vector<uint8_t> v = Utf16(std::wstring(L"PartMgr") + L'\0');
         v.push_back('V');
         return v;
     }(),
     0,
     {kOpen, kQuery, "Set(7,34)", kClose},
     {L"PartMgr", L"VolSnap"}},
    {"larger than the buffer, without the filter",
     true,
     List(Numbered(30)),
     0,
     {kOpen, kQuery, "Query(" + kLarge + ")", "Set(7," + kLargeRepaired + ")", kClose},
     [] {
         std::vector<std::wstring> after = Numbered(30);
         after.push_back(L"VolSnap");
         return after;
     }()},
    {"larger than the buffer, filter last",
     true,
     [] {
         std::vector<std::wstring> entries = Numbered(30);
         entries.push_back(L"VolSnap");
         return List(entries);
     }(),
     1,
     {kOpen, kQuery, "Query(" + std::to_string(List(Numbered(30)).size() + 16) + ")", kClose},
     [] {
         std::vector<std::wstring> after = Numbered(30);
         after.push_back(L"VolSnap");
         return after;
     }()},
};

class FilterRegistrationTest : public ::testing::Test {
protected:
    RegistryHost host;
    FakeHost::Scope scope{host};
};

TEST_F(FilterRegistrationTest, FindsOrAddsTheFilter) {
    for (const FilterCase& c : kCases) {
        host.registryCalls.clear();
        host.filterValuePresent = c.present;
        host.filterValue = c.value;
        host.filterValueType = 7;
        EXPECT_EQ(c.result, CheckVolSnapFilter()) << c.what;
        EXPECT_EQ(c.calls, host.registryCalls) << c.what;
        EXPECT_EQ(c.after, host.FilterEntries()) << c.what;
        EXPECT_EQ(7u, host.filterValueType) << c.what;
        EXPECT_EQ(0, host.openKeys) << c.what;
    }
}

TEST_F(FilterRegistrationTest, TheRepairHoldsForTheNextCheck) {
    EXPECT_EQ(0, CheckVolSnapFilter());
    EXPECT_EQ(List({L"VolSnap"}), host.filterValue);
    EXPECT_EQ(1, CheckVolSnapFilter());
}

TEST_F(FilterRegistrationTest, MajorVersion6DoesNotOpenTheKey) {
    host.versionAvailable = true;
    host.majorVersion = 6;
    EXPECT_EQ(1, CheckVolSnapFilter());
    EXPECT_TRUE(host.registryCalls.empty());
    EXPECT_EQ(std::vector<std::string>{"extended"}, host.versionQueries);  // no retry
    EXPECT_TRUE(IsMajorVersion6());

    for (unsigned major : {5u, 10u}) {
        host.majorVersion = major;
        EXPECT_FALSE(IsMajorVersion6()) << major;
    }
    host.versionAvailable = false;
    EXPECT_FALSE(IsMajorVersion6());
}

TEST_F(FilterRegistrationTest, AKeyThatCannotBeOpenedIsNotTouched) {
    host.keyOpen = Host::KeyOpen::kFailed;
    EXPECT_EQ(0, CheckVolSnapFilter());
    EXPECT_EQ(std::vector<std::string>{kOpen}, host.registryCalls);

    host.registryCalls.clear();
    host.keyOpen = Host::KeyOpen::kNotApplicable;  // no filter list on this platform
    EXPECT_EQ(1, CheckVolSnapFilter());
    EXPECT_EQ(std::vector<std::string>{kOpen}, host.registryCalls);
}

TEST_F(FilterRegistrationTest, AFailedRepairStillAnswersZero) {
    host.setValueResult = 5;
    EXPECT_EQ(0, CheckVolSnapFilter());
    EXPECT_FALSE(host.filterValuePresent);
    EXPECT_EQ(0, host.openKeys);
}

// Whatever the registry leaves in the buffer beyond the bytes it returned is not
// part of the list.
TEST_F(FilterRegistrationTest, NothingPastTheReturnedBytesIsRead) {
    host.fillPastEnd = true;
    host.filterValuePresent = true;
    host.filterValue = Utf16(L"PartMgr");
    EXPECT_EQ(0, CheckVolSnapFilter());
    host.filterValue = List({L"PartMgr"});
    EXPECT_EQ(0, CheckVolSnapFilter());
}

// A value that cannot be read whole is left as it is.
TEST_F(FilterRegistrationTest, AnUnreadableValueIsNotOverwritten) {
    host.filterValuePresent = true;
    host.filterValue = List({L"PartMgr"});
    host.queryError = 5;
    EXPECT_EQ(0, CheckVolSnapFilter());
    host.queryError = 0;
    host.growing = true;
    host.registryCalls.clear();
    EXPECT_EQ(0, CheckVolSnapFilter());
    const std::vector<std::string> calls = {kOpen, kQuery, "Query(514)", "Query(516)", kClose};
    EXPECT_EQ(calls, host.registryCalls);
    EXPECT_EQ(List({L"PartMgr"}), host.filterValue);
}

}  // namespace
}  // namespace quorlin
