// GUIDs as text: "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", as they are usually written.
#ifndef QUORLIN_TEXT_GUID_TEXT_H
#define QUORLIN_TEXT_GUID_TEXT_H

#include "QuorlinTypes.h"

#include <cstdint>
#include <string>

namespace quorlin {

// Lower case.
std::string GuidText(const GUID& guid);
// The inverse of GuidText (either case); false when `text` is not exactly that form.
bool ParseGuid(const std::string& text, GUID& guid);
// The GUID whose text form shows `bytes` in their order.
GUID GuidFromBytes(const uint8_t (&bytes)[16]);

}  // namespace quorlin

#endif
