// A counted reference to an object with AddRef and Release, as CComPtr holds one.
#ifndef QUORLIN_COMPTR_H
#define QUORLIN_COMPTR_H

namespace quorlin {

template <class T>
class ComPtr {
public:
    ComPtr() noexcept : p_(nullptr) {}
    // Takes a reference of its own on p.
    explicit ComPtr(T* p) noexcept : p_(p) {
        if (p_)
            p_->AddRef();
    }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    ~ComPtr() { Reset(); }

    ComPtr& operator=(const ComPtr& other) noexcept {
        ComPtr copy(other);
        Swap(copy);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr moved(static_cast<ComPtr&&>(other));
        Swap(moved);
        return *this;
    }

    // Takes over a reference that the caller already owns (no AddRef).
    static ComPtr Adopt(T* p) noexcept {
        ComPtr result;
        result.p_ = p;
        return result;
    }

    void Reset() noexcept {
        T* p = p_;
        p_ = nullptr;
        if (p)
            p->Release();
    }
    void Swap(ComPtr& other) noexcept {
        T* p = p_;
        p_ = other.p_;
        other.p_ = p;
    }

    T* Get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    T* p_;
};

}  // namespace quorlin

#endif  // QUORLIN_COMPTR_H
