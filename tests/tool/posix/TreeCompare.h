// A round-trip check of a copy: compares two trees entry by entry, through descriptors
// (so that no path length limits it), in every name, type, byte, hole, link target, hard
// link, extended attribute, permission, owner and time.
#ifndef QUORLIN_TESTS_TREE_COMPARE_H
#define QUORLIN_TESTS_TREE_COMPARE_H

#include <string>
#include <vector>

namespace tooltest {

// The differences between the tree at `original` and the one at `copy`, one line each;
// none when the copy is exact. `leftOut` names entries of `original` (relative paths)
// that the copy should not hold. Each entry's times are read before it is read or listed.
std::vector<std::string> CompareTrees(const std::string& original, const std::string& copy,
                                      const std::vector<std::string>& leftOut = {});

}  // namespace tooltest

#endif  // QUORLIN_TESTS_TREE_COMPARE_H
