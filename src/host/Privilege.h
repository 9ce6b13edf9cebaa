#ifndef QUORLIN_HOST_PRIVILEGE_H
#define QUORLIN_HOST_PRIVILEGE_H

namespace quorlin {

// Enables the named privilege in the process's token. Non-zero when it is now
// enabled; 0 when it could not be (the last error then tells why). When the
// adjustment itself fails or the account does not hold the privilege, standard
// output receives "AdjustTokenPrivileges for <name> failed with <code>".
int AssertPrivilege(const wchar_t* privilegeName);

}  // namespace quorlin

#endif
