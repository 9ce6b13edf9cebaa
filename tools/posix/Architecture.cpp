#include "Architecture.h"

namespace qtool {

// The snapshot service serves every build of quorlin on Linux.
const char* ArchitectureRefusal(bool) { return nullptr; }

void CheckArchitectureServed(const char*) {}

}  // namespace qtool
