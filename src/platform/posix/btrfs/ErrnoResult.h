// Kernel errors as VSS-style results.
#ifndef QUORLIN_PLATFORM_POSIX_BTRFS_ERRNO_RESULT_H
#define QUORLIN_PLATFORM_POSIX_BTRFS_ERRNO_RESULT_H

#include "QuorlinTypes.h"

#include <string>

namespace quorlin {

// A volume that cannot be written, as on a read-only mount: Windows's ERROR_WRITE_PROTECT
// as an HRESULT, so that a host can tell it from a volume that cannot have snapshots.
const HRESULT kVolumeReadOnly = static_cast<HRESULT>(0x80070013);

// The HRESULT that stands for `error` (an errno value); S_OK for 0.
HRESULT ResultFromErrno(int error);

// ResultFromErrno(error), after writing one detail trace line that keeps the errno
// (and leaving it in errno):
// "<what> <path>: <C library text> (errno <n>)". Never throws.
HRESULT ReportErrno(const char* what, const std::string& path, int error);

}  // namespace quorlin

#endif
