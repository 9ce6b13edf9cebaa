// The volume class's filter list through the real Win32 host seam, on a key
// that the test makes in the Wine prefix.
#include "platform/Platform.h"
#include "win32/VolumeClassKey.h"

#include <gtest/gtest.h>

#include <string>

namespace quorlin {
namespace {

using testing::VolumeClassKey;

// The seam's key for the life of the object.
class OpenedKey {
public:
    OpenedKey() : opened_(PlatformHost().OpenVolumeClassKey(key_)) {}
    ~OpenedKey() {
        if (opened_ == Host::KeyOpen::kOpened)
            PlatformHost().CloseKey(key_);
    }

    Host::KeyOpen Result() const { return opened_; }
    void* Get() const { return key_; }

    // "UpperFilters" read into a 512-byte buffer, as the filter check reads it.
    struct Reading {
        long result;
        uint32_t type = 0;
        uint32_t size = 512;
        uint8_t data[512];
        std::wstring Units() const {
            return std::wstring(reinterpret_cast<const wchar_t*>(data), size / 2);
        }
    };
    Reading Read() const {
        Reading reading;
        reading.result = PlatformHost().QueryRegistryValue(key_, L"UpperFilters", reading.type,
                                                           reading.data, reading.size);
        return reading;
    }

private:
    void* key_ = nullptr;
    Host::KeyOpen opened_;
};

TEST(Win32RegistryTest, AMissingClassKeyDoesNotOpen) {
    VolumeClassKey::Remove();
    OpenedKey key;
    EXPECT_EQ(Host::KeyOpen::kFailed, key.Result());
}

TEST(Win32RegistryTest, AnAbsentValueAnswersFileNotFound) {
    VolumeClassKey classKey;
    ASSERT_TRUE(classKey.Exists());
    OpenedKey key;
    ASSERT_EQ(Host::KeyOpen::kOpened, key.Result());
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.Read().result);
}

TEST(Win32RegistryTest, ListsReadBackAsStored) {
    VolumeClassKey classKey;
    classKey.SetFilterList({L"PartMgr", L"volsnap"});
    OpenedKey key;
    ASSERT_EQ(Host::KeyOpen::kOpened, key.Result());
    const OpenedKey::Reading reading = key.Read();
    ASSERT_EQ(ERROR_SUCCESS, reading.result);
    EXPECT_EQ(static_cast<uint32_t>(kRegistryMultiSz), reading.type);
    EXPECT_EQ(std::wstring(L"PartMgr\0volsnap\0\0", 17), reading.Units());
}

TEST(Win32RegistryTest, AValueLargerThanTheBufferAnswersMoreDataWithItsSize) {
    VolumeClassKey classKey;
    classKey.SetFilterList({std::wstring(298, L'x')});  // 600 bytes with both terminators
    OpenedKey key;
    ASSERT_EQ(Host::KeyOpen::kOpened, key.Result());
    const OpenedKey::Reading reading = key.Read();
    EXPECT_EQ(ERROR_MORE_DATA, reading.result);
    EXPECT_EQ(600u, reading.size);
}

TEST(Win32RegistryTest, WrittenListsAreStoredByteForByte) {
    VolumeClassKey classKey;
    OpenedKey key;
    ASSERT_EQ(Host::KeyOpen::kOpened, key.Result());
    const std::wstring list(L"PartMgr\0VolSnap\0\0", 17);
    EXPECT_EQ(ERROR_SUCCESS, PlatformHost().SetRegistryValue(
                                 key.Get(), L"UpperFilters", kRegistryMultiSz,
                                 reinterpret_cast<const uint8_t*>(list.data()),
                                 static_cast<uint32_t>(list.size() * sizeof(wchar_t))));
    DWORD type = 0;
    std::wstring stored;
    ASSERT_TRUE(classKey.ReadFilters(type, stored));
    EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
    EXPECT_EQ(list, stored);
}

}  // namespace
}  // namespace quorlin
