#include "platform/Platform.h"

namespace quorlin {

namespace {
Host* g_installedHost = nullptr;
}

Host& GetHost() { return g_installedHost ? *g_installedHost : PlatformHost(); }

Host* SetHost(Host* host) {
    Host* previous = g_installedHost;
    g_installedHost = host;
    return previous;
}

}  // namespace quorlin
