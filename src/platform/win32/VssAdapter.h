// Reference counting shared by the adapters over VSS objects. Every AddRef and
// Release goes on to the wrapped object, whose answer is returned; the adapter
// itself goes when the last reference to it is released (the wrapped object's
// last reference from this side goes with that same call). Like COM's own
// counts, the adapter's may be changed from several threads.
#ifndef QUORLIN_PLATFORM_WIN32_VSS_ADAPTER_H
#define QUORLIN_PLATFORM_WIN32_VSS_ADAPTER_H

#include <atomic>

namespace quorlin {

template <class Seam, class Native>
class VssAdapter : public Seam {
public:
    unsigned long AddRef() override {
        ++references_;
        return native_->AddRef();
    }

    unsigned long Release() override {
        const unsigned long answer = native_->Release();
        if (references_.fetch_sub(1) == 1)
            delete this;
        return answer;
    }

protected:
    // Takes over one reference to `native` that the caller owns.
    explicit VssAdapter(Native* native) : native_(native) {}
    ~VssAdapter() override = default;

    Native* const native_;

private:
    std::atomic<unsigned long> references_{1};
};

}  // namespace quorlin

#endif  // QUORLIN_PLATFORM_WIN32_VSS_ADAPTER_H
