#include "platform/posix/btrfs/ErrnoResult.h"

#include "diag/Trace.h"
#include "platform/posix/Utf8.h"
#include "diag/CaughtFailure.h"

#include <cerrno>
#include <cstring>

namespace quorlin {

HRESULT ResultFromErrno(int error) {
    switch (error) {
        case 0:
            return S_OK;
        case EPERM:
        case EACCES:
            return E_ACCESSDENIED;
        case ENOSPC:
        case EDQUOT:
            return VSS_E_INSUFFICIENT_STORAGE;
        case ENOMEM:
            return E_OUTOFMEMORY;
        case ENOENT:
        case ENOTDIR:
        case ENODEV:
        case ENXIO:
            return VSS_E_OBJECT_NOT_FOUND;
        case EEXIST:
            return VSS_E_OBJECT_ALREADY_EXISTS;
        case EROFS:
            return kVolumeReadOnly;
        case ENOTTY:
        case EOPNOTSUPP:
        case ENOSYS:
        case EXDEV:
            return VSS_E_VOLUME_NOT_SUPPORTED;
        case EBUSY:
        case ETXTBSY:
            return VSS_E_VOLUME_IN_USE;
        case EMLINK:
            return VSS_E_MAXIMUM_NUMBER_OF_SNAPSHOTS_REACHED;
        case EINVAL:
        case ENAMETOOLONG:
            return E_INVALIDARG;
        default:
            return VSS_E_UNEXPECTED_PROVIDER_ERROR;
    }
}

HRESULT ReportErrno(const char* what, const std::string& path, int error) {
    // A line the console refuses, or that memory does not suffice for, is dropped;
    // the result still stands.
    RunDroppingFailures([&] {
        const char* text = strerrordesc_np(error);
        std::string line = std::string(what) + " " + path + ": " + (text ? text : "unknown error") +
                           " (errno " + std::to_string(error) + ")";
        Trace(FromUtf8(line), TRACE_LEVEL_SERVICE_DETAIL);
    });
    errno = error;  // the last error, for a host that asks
    return ResultFromErrno(error);
}

}  // namespace quorlin
