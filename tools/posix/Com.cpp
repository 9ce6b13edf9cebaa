#include "Com.h"

namespace qtool {

// The snapshot service on Linux needs no COM.
ComScope::ComScope() {}
ComScope::~ComScope() {}

}  // namespace qtool
