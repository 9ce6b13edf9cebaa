// The volumes of a snapshot set in creation, and VSS's rule for another one: each volume
// once, whatever the case of its name (VSS_E_OBJECT_ALREADY_EXISTS), and at most 64 in a
// set (VSS_E_MAXIMUM_NUMBER_OF_VOLUMES_REACHED). Whether a name is a volume at all is
// the caller's to decide first.
#ifndef QUORLIN_STAND_IN_VSS_SET_MEMBERS_H
#define QUORLIN_STAND_IN_VSS_SET_MEMBERS_H

#include <vss.h>

#include <string>
#include <vector>

namespace standin {

struct SetMember {
    std::wstring volume;  // as it was added, e.g. "C:\"
    VSS_ID snapshotId;
};

// S_OK when a set that holds `members` takes `volume` too, else VSS's answer.
HRESULT Admit(const std::vector<SetMember>& members, const std::wstring& volume);

}  // namespace standin

#endif
