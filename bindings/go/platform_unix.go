//go:build !windows

package quorlin

// samePath compares paths as the file system does: byte for byte.
func samePath(a, b string) bool { return a == b }
