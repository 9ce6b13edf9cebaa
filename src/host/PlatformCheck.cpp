#include "host/PlatformCheck.h"

#include "platform/Platform.h"

namespace quorlin {

namespace {
const int kServerR2Metric = 89;  // SM_SERVERR2
const uint16_t kArchitectureIa64 = 6;
const uint16_t kArchitectureAmd64 = 9;
}  // namespace

int IsUnsupportedPlatform() {
    Host& host = GetHost();
    unsigned major = 0;
    if (!host.QueryMajorVersion(true, major) && !host.QueryMajorVersion(false, major))
        return 0;
    if (major != 5)
        return 0;
    if (host.SystemMetric(kServerR2Metric) != 0)
        return 0;
    const uint16_t architecture = host.NativeProcessorArchitecture();
    return architecture == kArchitectureIa64 || architecture == kArchitectureAmd64 ? 1 : 0;
}

}  // namespace quorlin
