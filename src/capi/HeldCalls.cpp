// The held snapshots through the C interface: text converted, no exception let out.
#include "capi/quorlin/quorlin.h"
#include "platform/Utf8Text.h"
#include "platform/HeldSnapshots.h"
#include "text/GuidText.h"

#include <cstdint>
#include <memory>

namespace quorlin {
namespace {

// The volume's path as the platform takes it; false for text the platform cannot carry.
bool PathOf(const char* text, std::unique_ptr<std::wstring>& path) {
    if (text == nullptr)
        return true;
    path.reset(new std::wstring);
    return WideFromUtf8(text, *path);
}

unsigned long Code(HRESULT hr) { return static_cast<unsigned long>(static_cast<uint32_t>(hr)); }

int OwnerCode(OwnerState owner) {
    return owner == OwnerState::kLives  ? QUORLIN_OWNER_LIVES
           : owner == OwnerState::kGone ? QUORLIN_OWNER_GONE
                                        : QUORLIN_OWNER_UNKNOWN;
}

}  // namespace
}  // namespace quorlin

extern "C" {

unsigned long QUORLIN_CALL quorlin_held_list(const char* path_utf8, quorlin_held_callback callback,
                                             void* context) {
    using namespace quorlin;
    try {
        if (callback == nullptr)
            return Code(E_INVALIDARG);
        std::unique_ptr<std::wstring> path;
        if (!PathOf(path_utf8, path))
            return Code(E_INVALIDARG);
        std::vector<HeldSnapshot> snapshots;
        const HRESULT hr = ListHeldSnapshots(path.get(), snapshots);
        if (hr != S_OK)
            return Code(hr);
        for (const HeldSnapshot& held : snapshots) {
            const std::string setId = GuidText(held.setId);
            const std::string snapshotId = GuidText(held.snapshotId);
            const std::string volume = Utf8PathFromWide(held.volume);
            const std::string snapshotPath = Utf8PathFromWide(held.snapshotPath);
            quorlin_held_snapshot entry = {};
            entry.set_id = setId.c_str();
            entry.snapshot_id = snapshotId.c_str();
            entry.volume = volume.c_str();
            entry.snapshot_path = snapshotPath.c_str();
            entry.persistent = held.persistent ? 1 : 0;
            entry.owner_pid = held.ownerPid;
            entry.owner = OwnerCode(held.owner);
            entry.created = static_cast<double>(held.created);
            callback(context, &entry);
        }
        return 0;
    } catch (const std::bad_alloc&) {
        return Code(E_OUTOFMEMORY);
    } catch (...) {
        return Code(E_UNEXPECTED);
    }
}

unsigned long QUORLIN_CALL quorlin_held_delete(const char* path_utf8, const char* set_id,
                                               long* deleted) {
    using namespace quorlin;
    if (deleted != nullptr)
        *deleted = 0;
    try {
        std::unique_ptr<std::wstring> path;
        GUID setId = GUID_NULL;
        if (!PathOf(path_utf8, path) || (set_id != nullptr && !ParseGuid(set_id, setId)))
            return Code(E_INVALIDARG);
        LONG count = 0;
        const HRESULT hr = set_id != nullptr ? DeleteHeldSet(path.get(), setId, count)
                                             : DeleteOrphans(path.get(), count);
        if (deleted != nullptr)
            *deleted = count;
        return hr == S_OK ? 0 : Code(hr);
    } catch (const std::bad_alloc&) {
        return Code(E_OUTOFMEMORY);
    } catch (...) {
        return Code(E_UNEXPECTED);
    }
}

}  // extern "C"
