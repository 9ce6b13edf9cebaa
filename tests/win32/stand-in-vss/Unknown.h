// IUnknown::QueryInterface of the stand-in's objects, each of which has one
// interface besides IUnknown.
#ifndef QUORLIN_STAND_IN_VSS_UNKNOWN_H
#define QUORLIN_STAND_IN_VSS_UNKNOWN_H

#include <unknwn.h>

namespace standin {

template <class Interface>
HRESULT QueryAs(Interface* self, REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    if (iid != __uuidof(IUnknown) && iid != __uuidof(Interface)) {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    self->AddRef();
    *object = self;
    return S_OK;
}

}  // namespace standin

#endif
