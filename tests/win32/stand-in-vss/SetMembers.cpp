#include "SetMembers.h"

#include "Text.h"

#include <vsserror.h>

namespace standin {

namespace {

// Volumes in one set at most, as VSS allows.
const size_t kMostVolumes = 64;

}  // namespace

HRESULT Admit(const std::vector<SetMember>& members, const std::wstring& volume) {
    for (const SetMember& member : members)
        if (SameName(member.volume, volume))
            return VSS_E_OBJECT_ALREADY_EXISTS;
    if (members.size() >= kMostVolumes)
        return VSS_E_MAXIMUM_NUMBER_OF_VOLUMES_REACHED;
    return S_OK;
}

}  // namespace standin
