#include "host/FilterRegistration.h"

#include "platform/Platform.h"

#include <string>
#include <vector>

namespace quorlin {

namespace {

const wchar_t kValueName[] = L"UpperFilters";
const char16_t kFilterName[] = u"VolSnap";
const char16_t kFilterNameUpper[] = u"VOLSNAP";
const uint32_t kReadBufferBytes = 512;
const int kReadAttempts = 3;  // the value may grow between a read and the next
const long kErrorSuccess = 0;
const long kErrorFileNotFound = 2;
const long kErrorMoreData = 234;

// The volume class key, closed on every path once opened.
class ClassKey {
public:
    explicit ClassKey(Host& host) : host_(host), state_(host.OpenVolumeClassKey(key_)) {}
    ~ClassKey() {
        if (state_ == Host::KeyOpen::kOpened)
            host_.CloseKey(key_);
    }
    ClassKey(const ClassKey&) = delete;
    ClassKey& operator=(const ClassKey&) = delete;

    Host::KeyOpen State() const { return state_; }
    void* Get() const { return key_; }

private:
    Host& host_;
    void* key_ = nullptr;
    Host::KeyOpen state_;
};

// Reads "UpperFilters" whole, into a larger buffer when the registry reports more
// data than the first one held. Returns the registry's answer; on success `value`
// holds exactly the bytes read.
long ReadFilterList(Host& host, void* key, std::vector<uint8_t>& value) {
    value.assign(kReadBufferBytes, 0);
    for (int attempt = 1;; ++attempt) {
        uint32_t type = 0;
        uint32_t size = static_cast<uint32_t>(value.size());
        const long result = host.QueryRegistryValue(key, kValueName, type, value.data(), size);
        if (result == kErrorMoreData && size > value.size() && attempt < kReadAttempts) {
            value.assign(size, 0);
            continue;
        }
        if (result == kErrorSuccess && size < value.size())
            value.resize(size);
        return result;
    }
}

// The entries of a list of strings (REG_MULTI_SZ, UTF-16 little-endian) up to the
// empty entry that ends it. Only the bytes given are read: an odd last byte is
// ignored, and a last entry without its terminator still counts.
std::vector<std::u16string> ListEntries(const std::vector<uint8_t>& value) {
    std::vector<std::u16string> entries;
    std::u16string current;
    for (size_t i = 0; i + 1 < value.size(); i += 2) {
        const char16_t unit = static_cast<char16_t>(value[i] | (value[i + 1] << 8));
        if (unit != u'\0') {
            current += unit;
            continue;
        }
        if (current.empty())
            return entries;
        entries.push_back(current);
        current.clear();
    }
    if (!current.empty())
        entries.push_back(current);
    return entries;
}

std::vector<uint8_t> EncodeList(const std::vector<std::u16string>& entries) {
    std::vector<uint8_t> value;
    auto push = [&value](char16_t unit) {
        value.push_back(static_cast<uint8_t>(unit & 0xFF));
        value.push_back(static_cast<uint8_t>(unit >> 8));
    };
    for (const std::u16string& entry : entries) {
        for (char16_t unit : entry)
            push(unit);
        push(u'\0');
    }
    push(u'\0');
    return value;
}

// True when the entry, upper-cased, holds "VOLSNAP" (inside a longer name too).
bool NamesTheFilter(std::u16string entry) {
    for (char16_t& unit : entry)
        if (unit >= u'a' && unit <= u'z')
            unit = static_cast<char16_t>(unit - u'a' + u'A');
    return entry.find(kFilterNameUpper) != std::u16string::npos;
}

}  // namespace

bool IsMajorVersion6() {
    unsigned major = 0;
    return GetHost().QueryMajorVersion(true, major) && major == 6;
}

int CheckVolSnapFilter() {
    if (IsMajorVersion6())
        return 1;
    Host& host = GetHost();
    ClassKey key(host);
    if (key.State() == Host::KeyOpen::kNotApplicable)
        return 1;
    if (key.State() != Host::KeyOpen::kOpened)
        return 0;

    std::vector<uint8_t> value;
    const long read = ReadFilterList(host, key.Get(), value);
    std::vector<std::u16string> entries;
    if (read == kErrorSuccess) {
        entries = ListEntries(value);
        for (const std::u16string& entry : entries)
            if (NamesTheFilter(entry))
                return 1;
    } else if (read != kErrorFileNotFound) {
        return 0;  // not readable whole: never overwritten blindly
    }

    entries.push_back(kFilterName);
    const std::vector<uint8_t> repaired = EncodeList(entries);
    host.SetRegistryValue(key.Get(), kValueName, kRegistryMultiSz, repaired.data(),
                          static_cast<uint32_t>(repaired.size()));
    return 0;
}

}  // namespace quorlin
