#ifndef QUORLIN_DIAG_SYSTEM_ERROR_TEXT_H
#define QUORLIN_DIAG_SYSTEM_ERROR_TEXT_H

#include <string>

namespace quorlin {

// Replaces `text` with the system's message for `errorCode` as
// "<message> (Error number <code>)", or "Error <code>" when there is none.
void GetSystemErrorText(unsigned int errorCode, std::wstring& text);

}  // namespace quorlin

#endif
