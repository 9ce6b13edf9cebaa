//go:build !windows

package quorlin

/*
#cgo pkg-config: quorlin
#include <stdint.h>
#include <stdlib.h>
#include <quorlin/quorlin.h>

// Defined in callbacks_cgo.go. The held list's context is a key, never a Go pointer.
extern void quorlinGoTrace(char* line);
extern void quorlinGoHeld(uintptr_t key, quorlin_held_snapshot* snapshot);

static void quorlin_go_trace(void* context, const char* line) {
	(void)context;
	quorlinGoTrace((char*)line);
}
static void quorlin_go_held(void* context, const quorlin_held_snapshot* snapshot) {
	quorlinGoHeld((uintptr_t)context, (quorlin_held_snapshot*)snapshot);
}
static int quorlin_go_set_trace(quorlin_agent* agent, int on) {
	return quorlin_set_trace_callback(agent, on ? quorlin_go_trace : NULL, NULL);
}
static unsigned long quorlin_go_held_list(const char* path, uintptr_t key) {
	return quorlin_held_list(path, quorlin_go_held, (void*)key);
}
*/
import "C"

import "unsafe"

// agent is a quorlin_agent of the library.
type agent struct{ p *C.quorlin_agent }

func newAgent() (*agent, *Error) {
	p := C.quorlin_agent_new()
	if p == nil {
		return nil, outOfMemory()
	}
	return &agent{p}, nil
}

func (a *agent) free() { C.quorlin_agent_free(a.p) }

func (a *agent) setBackupType(t int)      { C.quorlin_set_backup_type(a.p, C.int(t)) }
func (a *agent) setTimeout(ms int)        { C.quorlin_set_timeout(a.p, C.int(ms)) }
func (a *agent) setVerbosity(level int)   { C.quorlin_set_verbosity(a.p, C.int(level)) }
func (a *agent) setTraceCallback(on bool) { C.quorlin_go_set_trace(a.p, cBool(on)) }

// start takes the set; the snapshot paths are read afterwards with snapshotPath.
func (a *agent) start(paths []string, noWriters bool) Result {
	if len(paths) == 1 {
		path := C.CString(paths[0])
		defer C.free(unsafe.Pointer(path))
		if noWriters {
			return Result(C.quorlin_start_no_writers(a.p, path, nil, 0, nil))
		}
		return Result(C.quorlin_start(a.p, path, nil, 0, nil))
	}
	// The array of texts lies in C memory, as do the texts: cgo lets no Go memory
	// that holds Go pointers reach C.
	count := len(paths)
	if count == 0 {
		return Result(C.quorlin_start_multi(a.p, nil, 0, nil, nil, nil))
	}
	array := unsafe.Slice((**C.char)(C.malloc(C.size_t(count)*C.size_t(unsafe.Sizeof((*C.char)(nil))))), count)
	for i, path := range paths {
		array[i] = C.CString(path)
	}
	defer func() {
		for _, text := range array {
			C.free(unsafe.Pointer(text))
		}
		C.free(unsafe.Pointer(&array[0]))
	}()
	return Result(C.quorlin_start_multi(a.p, &array[0], C.size_t(count), nil, nil, nil))
}

func (a *agent) snapshotPath(index int) (string, Result) {
	var needed C.size_t
	result := Result(C.quorlin_snapshot_path(a.p, C.size_t(index), nil, 0, &needed))
	if result != OK {
		return "", result
	}
	buffer := (*C.char)(C.malloc(needed))
	defer C.free(unsafe.Pointer(buffer))
	result = Result(C.quorlin_snapshot_path(a.p, C.size_t(index), buffer, needed, nil))
	if result != OK {
		return "", result
	}
	return C.GoString(buffer), OK
}

func (a *agent) complete() Result { return Result(C.quorlin_complete(a.p)) }

func (a *agent) describe() (Instant, Result) {
	var i C.quorlin_set_instant
	result := Result(C.quorlin_describe_set(a.p, &i))
	return Instant{
		FileSystems:    int(i.file_systems),
		OneTransaction: int(i.one_transaction),
		WholeSet:       i.whole_set != 0,
		Tries:          int(i.tries),
		Window:         durationOfMilliseconds(float64(i.window_ms)),
	}, result
}

// failure is the *Error of the agent's last call, which answered `result`.
func (a *agent) failure(op string, result Result) *Error {
	return &Error{
		Op:          op,
		Result:      result,
		HRESULT:     uint32(C.quorlin_last_error_code(a.p)),
		Site:        int(C.quorlin_last_error_site(a.p)),
		Report:      C.GoString(C.quorlin_last_report(a.p)),
		Explanation: a.explanation(),
	}
}

func heldList(path string, each func(HeldSnapshot)) uint32 {
	key := registerHeld(each)
	defer unregisterHeld(key)
	text := pathText(path)
	defer C.free(unsafe.Pointer(text))
	return uint32(C.quorlin_go_held_list(text, C.uintptr_t(key)))
}

func heldDelete(path string, setID *string) (int, uint32) {
	volume, id := pathText(path), (*C.char)(nil)
	if setID != nil {
		id = C.CString(*setID)
	}
	defer C.free(unsafe.Pointer(volume))
	defer C.free(unsafe.Pointer(id))
	var deleted C.long
	code := uint32(C.quorlin_held_delete(volume, id, &deleted))
	return int(deleted), code
}

// pathText is the C text of a path of the held-set calls, NULL (every volume) for "".
func pathText(path string) *C.char {
	if path == "" {
		return nil
	}
	return C.CString(path)
}

func heldSnapshotOf(s *C.quorlin_held_snapshot) HeldSnapshot {
	return HeldSnapshot{
		SetID:        C.GoString(s.set_id),
		SnapshotID:   C.GoString(s.snapshot_id),
		Volume:       C.GoString(s.volume),
		SnapshotPath: C.GoString(s.snapshot_path),
		Persistent:   s.persistent != 0,
		OwnerPID:     int(s.owner_pid),
		Owner:        Owner(s.owner),
		Created:      createdTime(float64(s.created)),
	}
}

func (a *agent) explanation() string { return C.GoString(C.quorlin_last_explanation(a.p)) }

func explainCode(code uint32) string { return C.GoString(C.quorlin_explain_code(C.ulong(code))) }

func (a *agent) setID() string {
	var id [64]C.char
	if C.quorlin_set_id(a.p, &id[0], C.size_t(len(id))) != C.QUORLIN_OK {
		return ""
	}
	return C.GoString(&id[0])
}

func version() string { return C.GoString(C.quorlin_version()) }

func resultText(result int) string { return C.GoString(C.quorlin_result_text(C.int(result))) }

func cBool(b bool) C.int {
	if b {
		return 1
	}
	return 0
}
