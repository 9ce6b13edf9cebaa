#ifndef QUORLIN_HOST_PLATFORM_CHECK_H
#define QUORLIN_HOST_PLATFORM_CHECK_H

namespace quorlin {

// 1 on a 64-bit system of major version 5 that is not the server R2 release, else 0
// (also when the version cannot be read).
int IsUnsupportedPlatform();

}  // namespace quorlin

#endif
