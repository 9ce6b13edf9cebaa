package quorlin

import "strings"

// samePath compares paths as Windows does: without regard to case.
func samePath(a, b string) bool { return strings.EqualFold(a, b) }
