package quorlin

import (
	"sync"
	"time"
)

// Owner tells whether the owner of a held snapshot still runs.
type Owner int

// The owner states.
const (
	OwnerUnknown Owner = 0
	OwnerLives   Owner = 1
	OwnerGone    Owner = 2
)

// HeldSnapshot is a snapshot that outlives a backup call: of a set without writers,
// or of a set whose owner still holds it (or, on Linux, died holding it).
type HeldSnapshot struct {
	SetID        string // "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx"
	SnapshotID   string
	Volume       string // where it was taken: a mount point, or a volume name
	SnapshotPath string // its device object
	Persistent   bool   // true: until deleted; false: goes with its owner
	OwnerPID     int    // the owner's process id as it saw it, 0 when not known
	Owner        Owner
	Created      time.Time // the zero Time when not known
}

// ListHeld gives the snapshots held on the volume of `path` ("": on every volume).
func ListHeld(path string) ([]HeldSnapshot, error) {
	var held []HeldSnapshot
	if code := heldList(path, func(h HeldSnapshot) { held = append(held, h) }); code != 0 {
		return nil, heldFailure(opListHeld, code)
	}
	return held, nil
}

// DeleteHeld deletes the held set `setID` on the volume of `path` ("": wherever it
// is) and says how many snapshots went. ErrNoSuchSet and ErrOwnerRuns tell why it
// deleted nothing.
func DeleteHeld(path, setID string) (int, error) {
	return deleteHeld(path, &setID)
}

// DeleteOrphaned deletes the snapshots whose owner died holding them, on the volume
// of `path` ("": on every volume), and says how many went.
func DeleteOrphaned(path string) (int, error) {
	return deleteHeld(path, nil)
}

func deleteHeld(path string, setID *string) (int, error) {
	deleted, code := heldDelete(path, setID)
	if code != 0 {
		return 0, heldFailure(opDeleteHeld, code)
	}
	return deleted, nil
}

func heldFailure(op string, code uint32) error {
	return &Error{Op: op, Result: Failed, HRESULT: code, Explanation: explainCode(code)}
}

func createdTime(seconds float64) time.Time {
	if seconds == 0 {
		return time.Time{}
	}
	return time.Unix(int64(seconds), 0).UTC()
}

// The functions that the library calls back, each known by a number that stands in
// for it in the library's context pointer: no Go pointer reaches the library.
var callbacks struct {
	mu   sync.Mutex
	next uintptr
	held map[uintptr]func(HeldSnapshot)
}

func registerHeld(each func(HeldSnapshot)) uintptr {
	callbacks.mu.Lock()
	defer callbacks.mu.Unlock()
	if callbacks.held == nil {
		callbacks.held = map[uintptr]func(HeldSnapshot){}
	}
	callbacks.next++
	callbacks.held[callbacks.next] = each
	return callbacks.next
}

func unregisterHeld(key uintptr) {
	callbacks.mu.Lock()
	delete(callbacks.held, key)
	callbacks.mu.Unlock()
}

func heldCallback(key uintptr) func(HeldSnapshot) {
	callbacks.mu.Lock()
	defer callbacks.mu.Unlock()
	return callbacks.held[key]
}
