// The counted references of the service's objects: one reference for the creator,
// deleted when the last one is released.
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_REF_COUNTED_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_REF_COUNTED_H

#include "QuorlinComPtr.h"
#include "QuorlinTypes.h"

#include <atomic>
#include <new>
#include <utility>

namespace quorlin {

template <class Interface>
class RefCounted : public Interface {
public:
    unsigned long AddRef() override { return ++references_; }
    unsigned long Release() override {
        const unsigned long left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

private:
    std::atomic<unsigned long> references_{1};
};

// Puts a new Object(arguments...) into `holder`, which takes over its first reference.
// Returns S_OK, or E_OUTOFMEMORY with `holder` empty.
template <class Object, class Interface, class... Arguments>
HRESULT CreateCounted(ComPtr<Interface>& holder, Arguments&&... arguments) {
    holder.Reset();
    Object* object = new (std::nothrow) Object(std::forward<Arguments>(arguments)...);
    if (object == nullptr)
        return E_OUTOFMEMORY;
    holder = ComPtr<Interface>::Adopt(object);
    return S_OK;
}

}  // namespace quorlin

#endif
