#include "Com.h"

#include "Failure.h"

#include <cstdio>
#include <objbase.h>

namespace qtool {

ComScope::ComScope() {
    HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(result) && result != RPC_E_CHANGED_MODE) {
        char text[96];
        std::snprintf(text, sizeof text, "could not initialise COM (error 0x%08lX); try again",
                      static_cast<unsigned long>(result));
        throw Failure(kExitFailed, text);
    }
    initialized_ = SUCCEEDED(result);
}

ComScope::~ComScope() {
    if (initialized_)
        CoUninitialize();
}

}  // namespace qtool
