//go:build !windows

package quorlin

/*
#include <stdint.h>
#include <quorlin/quorlin.h>
*/
import "C"

// The library's callbacks. The file that exports them to C may declare C things only;
// capi_cgo.go defines the C side.

//export quorlinGoTrace
func quorlinGoTrace(line *C.char) {
	traceLine(C.GoString(line))
}

//export quorlinGoHeld
func quorlinGoHeld(key C.uintptr_t, snapshot *C.quorlin_held_snapshot) {
	if each := heldCallback(uintptr(key)); each != nil {
		each(heldSnapshotOf(snapshot))
	}
}
