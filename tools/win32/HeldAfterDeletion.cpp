#include "Held.h"

namespace qtool {

// VSS deletes a shadow copy whole: no process keeps reading one that is gone.
std::vector<HeldEntry> HeldAfterDeletion(const std::string&) { return {}; }

}  // namespace qtool
